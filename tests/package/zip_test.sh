#!/bin/sh
# Builds the zip of the Windows programs from this build tree and checks that it holds the
# two programs and the library's DLL of the build's width, the DLL's import library and header,
# the README with the pictures it shows, and the licences of what is linked in. The DLL must
# export every function the header declares and nothing but pxt_ names.
# Arguments: cpack, cmake, the build tree, the source tree, a scratch folder (emptied first),
# win32 or win64, the MinGW-w64 objdump.
set -eu
cpack="$1" cmake="$2" build="$3" source="$4" scratch="$5" arch="$6" objdump="$7"
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$scratch"
mkdir -p "$scratch/unpacked"
"$cpack" --config "$build/CPackConfig.cmake" -G ZIP -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack"; }
set -- "$scratch"/out/*.zip
[ $# -eq 1 ] && [ -f "$1" ] || fail "expected one .zip, got: $*"
zip="$1"
case "$(basename "$zip")" in pixeltools-*-"$arch".zip) ;; *) fail "unexpected name $zip (not -$arch)" ;; esac
(cd "$scratch/unpacked" && "$cmake" -E tar xf "$zip") || fail "cannot unpack $zip"
top="$scratch/unpacked/$(basename "$zip" .zip)"
[ -d "$top" ] || fail "the zip has no folder $(basename "$top")"

for f in mostel.exe quillet.exe libpixeltools.dll lib/libpixeltools.dll.a include/pixeltools.h README.md \
         licences/pixeltools.txt licences/lodepng.txt licences/mingw-w64-runtime.txt; do
  [ -s "$top/$f" ] || fail "missing $f"
done
# The PE header's machine field: 0x014c for 32-bit x86, 0x8664 for x86-64.
case "$arch" in win32) machine="4c 01" ;; *) machine="64 86" ;; esac
for exe in mostel.exe quillet.exe libpixeltools.dll; do
  [ "$(head -c 2 "$top/$exe")" = MZ ] || fail "$exe is not a Windows program"
  pe=$(od -An -tu4 -j60 -N4 "$top/$exe" | tr -d ' ')
  [ "$(od -An -tx1 -j"$pe" -N6 "$top/$exe" | tr -s ' ' | sed 's/^ //;s/ $//')" = "50 45 00 00 $machine" ] ||
    fail "$exe is not a $arch program"
done
# The DLL's export table: the names of the pxt_ functions the header declares, no other.
"$objdump" -p "$top/libpixeltools.dll" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort >"$scratch/exported"
[ -s "$scratch/exported" ] || fail "libpixeltools.dll exports nothing"
grep -v '^pxt_' "$scratch/exported" && fail "libpixeltools.dll exports names other than pxt_ ones (above)"
grep -o '\bpxt_[a-z_]*(' "$top/include/pixeltools.h" | tr -d '(' | sort -u >"$scratch/declared"
missing=$(comm -23 "$scratch/declared" "$scratch/exported")
[ -z "$missing" ] || fail "the header declares functions libpixeltools.dll does not export: $missing"

# Every picture and page the README links to travels with it.
for picture in $(grep -o 'docs/[A-Za-z0-9._-]*\.\(png\|md\)' "$source/README.md" | sort -u); do
  [ -s "$top/$picture" ] || fail "README shows $picture, which the zip lacks"
done
echo "ok: $(basename "$zip")"
