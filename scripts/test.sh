#!/bin/sh
# Installs what the build needs, builds with the given preset (release unless told otherwise)
# and runs every test.
set -eu
cd "$(dirname "$0")/.."
preset="${1:-release}"
scripts/install-deps.sh
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" -j "$(nproc)"
