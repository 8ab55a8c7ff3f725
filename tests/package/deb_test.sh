#!/bin/sh
# Checks the Debian packages of this build tree: libpixeltools1, libpixeltools-dev and
# pixeltools, what each declares and holds, then unpacks them into a scratch root and runs both
# programs from there on a sample; their files must match those of the build tree's programs.
# lintian must report no error. Arguments: the folder of the packages (make_debs.sh), the build
# tree, the samples folder, a scratch folder (emptied first).
set -eu
debs="$1" build="$2" samples="$3" scratch="$4"
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$scratch"
mkdir -p "$scratch/root" "$scratch/packaged" "$scratch/built"
set -- "$debs"/*.deb
[ $# -eq 3 ] || fail "expected three packages, got: $*"
deb_of() { set -- "$debs/$1"_*_*.deb; [ -f "$1" ] || fail "no package $1"; echo "$1"; }
lib=$(deb_of libpixeltools1) dev=$(deb_of libpixeltools-dev) programs=$(deb_of pixeltools)
version=$(dpkg-deb -f "$lib" Version)

field_is() {  # package, field, value
  [ "$(dpkg-deb -f "$1" "$2")" = "$3" ] || fail "$(basename "$1"): $2 is '$(dpkg-deb -f "$1" "$2")', not '$3'"
}
field_is "$lib" Section libs
field_is "$dev" Section libdevel
field_is "$programs" Section graphics
for deb in "$dev" "$programs"; do field_is "$deb" Version "$version"; done
field_is "$dev" Depends "libpixeltools1 (= $version)"
# What dpkg-shlibdeps reads to make a program that links the library depend on it.
[ "$(dpkg-deb -I "$lib" shlibs)" = "libpixeltools 1 libpixeltools1 (>= ${version%-*})" ] ||
  fail "libpixeltools1's shlibs: $(dpkg-deb -I "$lib" shlibs)"
dpkg-deb -I "$lib" triggers | grep -qx "activate-noawait ldconfig" || fail "libpixeltools1 has no ldconfig trigger"

depends=$(dpkg-deb -f "$programs" Depends)
needed="liblodepng0 libmagickwand-6.q16-6 libc6 libstdc++6"
# A program that links the library makes the package depend on it, through the shlibs above.
if readelf -d "$build/mostel/mostel" "$build/quillet/ui/quillet" | grep -q 'NEEDED.*\[libpixeltools\.so\.1\]'; then
  needed="$needed libpixeltools1"
fi
for package in $needed; do
  echo "$depends" | grep -q "\(^\|, \)$package\( \|,\|$\)" || fail "pixeltools' Depends lacks $package: $depends"
done

for deb in "$lib" "$dev" "$programs"; do dpkg-deb -x "$deb" "$scratch/root"; done
for package in libpixeltools1 libpixeltools-dev pixeltools; do
  doc="$scratch/root/usr/share/doc/$package"
  [ -f "$doc/copyright" ] || fail "$package has no copyright"
  # The changelog's newest entry is this version.
  zcat "$doc/changelog.Debian.gz" | head -n 1 | grep -q "^pixeltools ($version) " ||
    fail "$package's changelog does not begin with $version"
done
for f in usr/bin/mostel usr/bin/quillet usr/share/man/man1/mostel.1.gz usr/share/man/man1/quillet.1.gz \
         usr/share/man/man3/pixeltools.3.gz usr/include/pixeltools.h; do
  [ -f "$scratch/root/$f" ] || fail "missing $f"
done
for page in man1/mostel.1 man1/quillet.1 man3/pixeltools.3; do
  gzip -t "$scratch/root/usr/share/man/$page.gz" || fail "$page.gz is not gzip"
done
file_info=$(od -An -c -N4 "$scratch/root/usr/bin/mostel" | tr -d ' ')
[ "$file_info" = "177ELF" ] || fail "usr/bin/mostel is not a program"
libdir=$(dirname "$(find "$scratch/root" -name libpixeltools.so.1)")

# Both programs, packaged (with the packaged library) and built, on the same samples.
run_both() {  # folder, program, arguments...
  dir="$1" program="$2"
  shift 2
  (cd "$scratch/packaged" && LD_LIBRARY_PATH="$libdir" "$scratch/root/usr/bin/$program" "$@") >"$scratch/packaged.log" 2>&1 ||
    { cat "$scratch/packaged.log" >&2; fail "packaged $program $*"; }
  (cd "$scratch/built" && "$build/$dir/$program" "$@") >/dev/null 2>&1 || fail "built $program $*"
}
run_both mostel mostel "$samples/sheet.png" sheet-3x.png
run_both quillet/ui quillet -in "$samples/sword.png" -out sword -angle 30 -scale 2
for f in sheet-3x.png sword.bmp; do
  cmp "$scratch/packaged/$f" "$scratch/built/$f" || fail "$f differs between the packaged and the built program"
done
for program in mostel quillet; do
  LD_LIBRARY_PATH="$libdir" "$scratch/root/usr/bin/$program" --version | grep -q "^$program [0-9]" || fail "$program --version"
done

# lintian warns about running as root; only errors fail. Its warnings are shown in the log.
command -v lintian >/dev/null || fail "lintian is not installed (scripts/install-deps.sh tests)"
lintian --fail-on error "$lib" "$dev" "$programs" 2>/dev/null || fail "lintian reports errors"
echo "ok: $(basename "$lib") $(basename "$dev") $(basename "$programs")"
