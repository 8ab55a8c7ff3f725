#!/bin/sh
# Runs a Windows program under Wine on a virtual display, in a Wine prefix of the build's
# own, and returns its status. "--prepare" makes the prefix (once) and runs nothing.
# Arguments: prefix folder, win32 or win64 (the build's programs), then --prepare or the
# program and its arguments.
#
# win64 runs 64-bit Wine's loader alone, in a 64-bit prefix, so it needs no 32-bit program of
# the machine's; win32 goes through the "wine" command, whose loader is a 32-bit program.
set -u
export WINEPREFIX="$1"
arch="$2"
shift 2
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
case "$arch" in
  win64)
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
    set -- /usr/lib/wine/wine64 "$@"
    ;;
  win32) set -- wine "$@" ;;
  *) echo "usage: $0 PREFIX win32|win64 --prepare|PROGRAM [ARGUMENTS]" >&2; exit 2 ;;
esac
if [ "$2" = --prepare ]; then
  [ -f "$WINEPREFIX/system.reg" ] && exit 0
  mkdir -p "$WINEPREFIX"
  # Under an emulated i386 making a prefix takes minutes; natively some seconds. A prefix that
  # could not be made is removed, so that no later run takes it for a made one.
  log="$WINEPREFIX.boot.log"
  status=0
  timeout 1200 "$1" wineboot -i >"$log" 2>&1 || status=$?
  if [ "$status" -eq 0 ] && ! timeout 120 wineserver -w; then
    echo "wineboot: the Wine server did not end within 120 s" >"$log"
    status=1
  fi
  if [ "$status" -ne 0 ]; then
    reason=$(grep -v '^[[:space:]]*$' "$log" | tail -n 1)
    rm -rf "$WINEPREFIX"
    echo "wineboot failed (status $status)${reason:+: $reason}" >&2
    exit 1
  fi
  rm -f "$log"
  exit 0
fi
# The program's own limits come first; this one only ends a run that hangs.
exec timeout -k 10 1700 xvfb-run -a -s "-screen 0 1024x768x24" "$@"
