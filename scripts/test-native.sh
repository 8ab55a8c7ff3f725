#!/bin/sh
# Installs everything the tests use, then builds with the given preset (release unless told
# otherwise: release or asan) and runs its tests.
set -eu
cd "$(dirname "$0")/.."
preset="${1:-release}"
scripts/install-deps.sh tests
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" -j "$(nproc)"
