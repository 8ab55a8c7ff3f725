# Sourced by the Wine tests: a Wine prefix of the build's own, made once.
# Set PREFIX_DIR to the folder for the prefix first.
export WINEDEBUG=-all
export WINEPREFIX="$PREFIX_DIR"
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # Under the emulated i386 making a prefix takes four minutes or more (over five in a CI run).
  booted=$(date +%s)
  timeout 1200 wineboot -i >/dev/null 2>&1 || { echo "wineboot failed after $(($(date +%s) - booted)) s" >&2; exit 1; }
  timeout 120 wineserver -w
  # Windows open on a virtual desktop of Wine's own, from the first program on: there they
  # need no window manager, carry their captions and take the keyboard when clicked.
  # (The server has written the registry and ended, so the file is ours to extend.)
  now=$(date +%s)
  printf '\n[Software\\\\Wine\\\\Explorer] %s\n"Desktop"="Default"\n' "$now" >>"$WINEPREFIX/user.reg"
  printf '\n[Software\\\\Wine\\\\Explorer\\\\Desktops] %s\n"Default"="1024x768"\n' "$now" >>"$WINEPREFIX/user.reg"
fi

# Runs "wine ARGUMENTS" and returns its status; 124 when it ran past WINE_LIMIT seconds (600
# unless set), 125 when it stalled. Under the emulated i386 a signal that the Wine server sends
# to one thread of a program now and then lands in another: both threads then wait on the
# server for ever and the program uses no CPU any more. A program whose CPU time did not move
# for WINE_STALL seconds (60 unless set) is ended and counted as stalled. Only for programs
# that run without waiting for a person.
wine_watched() {
  wine "$@" &
  wine_pid=$!
  wine_cpu=-1 wine_still=0 wine_ran=0
  while kill -0 "$wine_pid" 2>/dev/null; do
    sleep 5
    wine_ran=$((wine_ran + 5))
    now_cpu=$(sed 's/.*) //' "/proc/$wine_pid/stat" 2>/dev/null | awk '{print $12 + $13}')
    if [ "$now_cpu" = "$wine_cpu" ]; then wine_still=$((wine_still + 5)); else wine_still=0; fi
    wine_cpu=$now_cpu
    if [ "$wine_still" -ge "${WINE_STALL:-60}" ] || [ "$wine_ran" -ge "${WINE_LIMIT:-600}" ]; then
      kill -9 "$wine_pid" 2>/dev/null
      wait "$wine_pid"
      [ "$wine_still" -ge "${WINE_STALL:-60}" ] && return 125
      return 124
    fi
  done
  wait "$wine_pid"
}
