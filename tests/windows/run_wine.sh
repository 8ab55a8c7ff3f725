#!/bin/sh
# Runs a Windows program under Wine on a virtual display, in a Wine prefix of the build's
# own, and returns its status. "--prepare" makes the prefix (once) and runs nothing.
# Arguments: prefix folder, then --prepare or the program and its arguments.
set -u
export WINEPREFIX="$1"
shift
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ "$1" = --prepare ]; then
  [ -f "$WINEPREFIX/system.reg" ] && exit 0
  mkdir -p "$WINEPREFIX"
  # Under an emulated i386 making a prefix takes minutes; natively some seconds.
  timeout 1200 wineboot -i >/dev/null 2>&1 || { echo "wineboot failed" >&2; exit 1; }
  exec timeout 120 wineserver -w
fi
# The program's own limits come first; this one only ends a run that hangs.
exec timeout -k 10 1700 xvfb-run -a -s "-screen 0 1024x768x24" wine "$@"
