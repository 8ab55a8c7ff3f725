#!/bin/sh
# Installs everything the tests use, builds with the given preset (release unless told
# otherwise) and runs every test. After the release tests it also builds the 32-bit Windows
# programs and their test program and runs them under Wine, and builds and runs the fuzz
# targets (scripts/fuzz.sh).
set -eu
cd "$(dirname "$0")/.."
preset="${1:-release}"
scripts/install-deps.sh tests
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" -j "$(nproc)"
if [ "$preset" = release ]; then
  scripts/enable-i386.sh
  cmake --preset windows
  cmake --build --preset windows -j "$(nproc)"
  ctest --preset windows
  # The libFuzzer targets: their regressions replayed, then a minute of fuzzing each.
  scripts/fuzz.sh 60
fi
