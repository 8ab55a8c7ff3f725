#!/bin/sh
# Builds the Debian packages of this build tree into a folder (emptied first) that the package
# tests read. Arguments: cpack, the build tree, the folder.
set -eu
cpack="$1" build="$2" out="$3"
rm -rf "$out"
mkdir -p "$out"
"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log" >&2; echo "FAIL: cpack" >&2; exit 1; }
ls "$out"/*.deb
