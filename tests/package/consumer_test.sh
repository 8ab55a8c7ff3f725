#!/bin/sh
# A program of a library user, built against the library's packages alone: libpixeltools1
# and libpixeltools-dev are unpacked into a scratch root, and the example program of
# pixeltools(3) is built there with gcc and nothing but pkg-config's flags, then with CMake
# through find_package(pixeltools). Run with the unpacked library on a sample, it must write the
# bytes the built programs write. The unpacked library must export nothing but pxt_ names,
# every function of the header among them, under the SONAME libpixeltools.so.1.
# Arguments: the folder of the packages (make_debs.sh), the build tree, the samples folder,
# the manual page pixeltools.3, the CMake consumer's folder, cmake, a scratch folder (emptied).
set -eu
debs="$1" build="$2" samples="$3" page="$4" consumer="$5" cmake="$6" scratch="$7"
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$scratch"
mkdir -p "$scratch/root" "$scratch/pkg-config" "$scratch/cmake" "$scratch/programs"
for package in libpixeltools1 libpixeltools-dev; do
  set -- "$debs/$package"_*_*.deb
  [ -f "$1" ] || fail "no package $package in $debs"
  dpkg-deb -x "$1" "$scratch/root"
done
root="$scratch/root"
library=$(find "$root" -name libpixeltools.so.1)
[ -n "$library" ] || fail "libpixeltools1 holds no libpixeltools.so.1"
libdir=$(dirname "$library")

# The library's interface: its SONAME, and its dynamic symbols (the version node aside).
readelf -d "$library" | grep -q 'SONAME.*\[libpixeltools\.so\.1\]' || fail "SONAME: $(readelf -d "$library" | grep SONAME)"
nm -D --defined-only "$library" | awk '$2 != "A" { print $3 }' | sed 's/@.*//' | sort >"$scratch/exported"
grep -v '^pxt_' "$scratch/exported" && fail "the library exports names other than pxt_ ones (above)"
grep -o '\bpxt_[a-z_]*(' "$root/usr/include/pixeltools.h" | tr -d '(' | sort -u >"$scratch/declared"
missing=$(comm -23 "$scratch/declared" "$scratch/exported")
[ -z "$missing" ] || fail "the header declares functions the library does not export: $missing"

# The example of the manual page, as its reader would copy it: roff escapes undone.
sed -n '/^\.\\" consumer\.c begins$/,/^\.\\" consumer\.c ends$/p' "$page" |
  sed '/^\.\(in\|EX\|EE\|\\"\)/d; s/\\-/-/g; s/\\e/\\/g' >"$scratch/consumer.c"
grep -q 'int main' "$scratch/consumer.c" || fail "no example program in $page"

# With pkg-config: its search path is the unpacked root's alone, and the sysroot puts the
# .pc file's /usr paths under that root.
pc_dir=$(dirname "$(find "$root" -name pixeltools.pc)")
flags=$(PKG_CONFIG_LIBDIR="$pc_dir" PKG_CONFIG_SYSROOT_DIR="$root" pkg-config --cflags --libs pixeltools) ||
  fail "pkg-config"
gcc -std=c99 -Wall -Wextra -pedantic -Werror "$scratch/consumer.c" -o "$scratch/pkg-config/consumer" $flags ||
  fail "gcc with $flags"

# With CMake.
"$cmake" -S "$consumer" -B "$scratch/cmake/build" -DCMAKE_PREFIX_PATH="$root/usr" \
         -DCONSUMER_SOURCE="$scratch/consumer.c" >"$scratch/cmake.log" 2>&1 &&
  "$cmake" --build "$scratch/cmake/build" >>"$scratch/cmake.log" 2>&1 ||
  { cat "$scratch/cmake.log" >&2; fail "the CMake consumer"; }
cp "$scratch/cmake/build/consumer" "$scratch/cmake/consumer"

sprite="$samples/sword.png"
(cd "$scratch/programs" && "$build/mostel/mostel" "$sprite" enlarged.png >/dev/null &&
  "$build/quillet/ui/quillet" -in "$sprite" -out sheet -format png -frames 8 -sheet 4 -angle 0 -endangle 315 -quiet) ||
  fail "the built programs"
for how in pkg-config cmake; do
  (cd "$scratch/$how" && LD_LIBRARY_PATH="$libdir" ./consumer "$sprite" enlarged.png sheet.png >run.log 2>&1) ||
    { cat "$scratch/$how/run.log" >&2; fail "the consumer built with $how"; }
  grep -qx "pixeltools $(dpkg-deb -f "$debs"/libpixeltools1_*.deb Version | sed 's/-[^-]*$//')" "$scratch/$how/run.log" ||
    fail "the consumer built with $how ran another library: $(head -n 1 "$scratch/$how/run.log")"
  for f in enlarged.png sheet.png; do
    cmp "$scratch/$how/$f" "$scratch/programs/$f" || fail "$f of the consumer built with $how differs from the program's"
  done
done
echo "ok: the consumer built with pkg-config and with CMake writes the programs' files"
