#!/bin/sh
# Every test: the native tests of the given preset (release unless told otherwise); after the
# release tests also the WebAssembly module and the page (in node and chromium), the 64-bit and
# 32-bit Windows programs under Wine (the 32-bit ones only where 32-bit Wine runs: see
# test-windows.sh), then the fuzz targets' regressions replayed and
# a minute of fuzzing each. Each stage installs what it needs.
set -eu
cd "$(dirname "$0")/.."
preset="${1:-release}"
scripts/test-native.sh "$preset"
if [ "$preset" = release ]; then
  scripts/test-web.sh
  scripts/test-windows.sh
  scripts/fuzz.sh 60
fi
