#!/bin/sh
# Installs everything the tests use, then builds the Windows programs and their test program,
# 64-bit and 32-bit, and runs the tests under Wine of the same width.
#
# The 64-bit tests run everywhere: 64-bit Wine needs no 32-bit program of the machine's. The
# 32-bit ones need a kernel that runs 32-bit programs itself; elsewhere they are skipped with
# the reason on a line of its own, and only the 32-bit zip is checked.
# PIXELTOOLS_WINDOWS32=skip skips the 32-bit tests as on a machine that cannot run them.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh tests

# Runs a command and adds a line with its time to the summary printed at the end.
times=""
timed() {
  what="$1"
  shift
  from=$(date +%s)
  "$@"
  times="$times$what: $(($(date +%s) - from)) s
"
}

timed "64-bit Windows build" sh -c 'cmake --preset windows64 && cmake --build --preset windows64 -j "$(nproc)"'
timed "64-bit Windows tests" ctest --preset windows64
timed "32-bit Windows build" sh -c 'cmake --preset windows && cmake --build --preset windows -j "$(nproc)"'

# The 32-bit tests run where the kernel runs 32-bit programs itself. Where it cannot, they are
# skipped with the reason: qemu's user-mode emulator can run 32-bit Wine, but Wine's threaded
# programs crash under it ("qemu: uncaught target signal 11") and a 64-bit prefix made while it
# is registered takes minutes, so tests through it would not be reliable.
skip32=""
if [ "${PIXELTOOLS_WINDOWS32:-}" = skip ]; then
  skip32="PIXELTOOLS_WINDOWS32=skip is set"
elif [ -f /proc/sys/fs/binfmt_misc/qemu-i386 ] && grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386; then
  skip32="32-bit programs run here through qemu's emulator, under which 32-bit Wine is not reliable"
elif ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "ok installed"; then
  skip32="wine32 is not installed (scripts/install-deps.sh could not install it from this machine's mirror)"
elif ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  skip32="this kernel cannot run 32-bit programs ($(/lib/ld-linux.so.2 --version 2>&1 | head -n 1))"
fi

if [ -z "$skip32" ]; then
  timed "32-bit Windows tests" ctest --preset windows
  printf '%s' "$times"
else
  # The zip needs no Wine.
  timed "32-bit Windows zip test" ctest --preset windows -LE wine
  printf '%s' "$times"
  echo "32-bit Windows tests SKIPPED: $skip32"
fi
