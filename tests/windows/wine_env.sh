# Sourced by the Wine tests: a Wine prefix of the build's own, made once.
# Set PREFIX_DIR to the folder for the prefix first.
export WINEDEBUG=-all
export WINEPREFIX="$PREFIX_DIR"
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  timeout 300 wineboot -i >/dev/null 2>&1 || { echo "wineboot failed" >&2; exit 1; }
  timeout 60 wineserver -w
fi
