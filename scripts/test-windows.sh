#!/bin/sh
# Installs everything the tests use, lets this machine run 32-bit programs, then builds the
# 32-bit Windows programs and their test program and runs the tests under Wine.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh tests
scripts/enable-i386.sh
cmake --preset windows
cmake --build --preset windows -j "$(nproc)"
ctest --preset windows
