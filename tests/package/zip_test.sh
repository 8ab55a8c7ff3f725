#!/bin/sh
# Builds the zip of the Windows programs from this build tree and checks that it holds the
# two programs, the README with the pictures it shows, and the licences of what is linked in.
# Arguments: cpack, cmake, the build tree, the source tree, a scratch folder (emptied first).
set -eu
cpack="$1" cmake="$2" build="$3" source="$4" scratch="$5"
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$scratch"
mkdir -p "$scratch/unpacked"
"$cpack" --config "$build/CPackConfig.cmake" -G ZIP -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack"; }
set -- "$scratch"/out/*.zip
[ $# -eq 1 ] && [ -f "$1" ] || fail "expected one .zip, got: $*"
zip="$1"
case "$(basename "$zip")" in pixeltools-*-win32.zip) ;; *) fail "unexpected name $zip" ;; esac
(cd "$scratch/unpacked" && "$cmake" -E tar xf "$zip") || fail "cannot unpack $zip"
top="$scratch/unpacked/$(basename "$zip" .zip)"
[ -d "$top" ] || fail "the zip has no folder $(basename "$top")"

for f in mostel.exe quillet.exe README.md licences/pixeltools.txt licences/lodepng.txt \
         licences/mingw-w64-runtime.txt; do
  [ -s "$top/$f" ] || fail "missing $f"
done
for exe in mostel.exe quillet.exe; do
  [ "$(head -c 2 "$top/$exe")" = MZ ] || fail "$exe is not a Windows program"
done
# Every picture and page the README links to travels with it.
for picture in $(grep -o 'docs/[A-Za-z0-9._-]*\.\(png\|md\)' "$source/README.md" | sort -u); do
  [ -s "$top/$picture" ] || fail "README shows $picture, which the zip lacks"
done
echo "ok: $(basename "$zip")"
