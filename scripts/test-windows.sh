#!/bin/sh
# Installs everything the tests use, then builds the Windows programs and their test program,
# 64-bit and 32-bit, and runs the tests under Wine of the same width.
#
# The 64-bit tests run everywhere: 64-bit Wine needs no 32-bit program of the machine's. The
# 32-bit ones need a kernel that runs 32-bit programs, natively or through qemu (see
# enable-i386.sh); where no 32-bit Wine prefix can be made through qemu, they are skipped with
# the reason on a line of its own, and only the 32-bit zip is checked. Where the kernel runs
# 32-bit programs natively, a prefix that cannot be made is a failure.
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

# Whether 32-bit Wine runs here, found by doing it: 32-bit programs start, natively or once qemu
# is registered for them, and the 32-bit build's Wine prefix can be made. Empty when it runs;
# otherwise the reason it does not.
skip32=""
prefix32="$PWD/build/windows/tests/windows/wineprefix"
if [ "${PIXELTOOLS_WINDOWS32:-}" = skip ]; then
  skip32="PIXELTOOLS_WINDOWS32=skip is set"
else
  if [ -f /proc/sys/fs/binfmt_misc/qemu-i386 ] && grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386; then
    native32=""
  elif /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    native32=1
  else
    native32=""
  fi
  if [ -z "$native32" ] && ! registered=$(scripts/enable-i386.sh 2>&1); then
    skip32="this kernel cannot run 32-bit programs, and qemu could not be registered for them ($registered)"
  else
    from=$(date +%s)
    status=0
    booted=$(sh tests/windows/run_wine.sh "$prefix32" win32 --prepare 2>&1) || status=$?
    times="${times}32-bit Wine prefix: $(($(date +%s) - from)) s
"
    if [ "$status" -ne 0 ] && [ -n "$native32" ]; then
      printf '%s' "$times"
      echo "32-bit Windows tests FAILED: this kernel runs 32-bit programs, yet no 32-bit Wine prefix can be made ($booted)" >&2
      exit 1
    elif [ "$status" -ne 0 ]; then
      skip32="32-bit programs run here only through qemu, and 32-bit Wine does not start there ($booted)"
    fi
  fi
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
