#!/bin/sh
# mostel.exe under Wine must write byte-identical files, print the same messages (line ends
# aside) and end with the same status as the native mostel, on the sample sprites and on every
# file of the PNG suite, corrupt ones included.
# Arguments: mostel.exe, native mostel, samples folder, PNG suite folder, work folder.
set -u
exe="$1" native="$2" samples="$3" suite="$4" work="$5"
[ -x "$native" ] || { echo "native build missing: $native" >&2; exit 1; }
PREFIX_DIR="$(dirname "$work")/prefix"
. "$(dirname "$0")/wine_env.sh"
mkdir -p "$work"
cd "$work" || exit 1

failures=0
checked=0
for input in "$samples"/*.png "$suite"/*.png; do
  name=$(basename "$input")
  rm -f win.png native.png
  timeout 120 wine "$exe" "$input" win.png >win.txt 2>win.err
  ws=$?
  "$native" "$input" native.png >native.txt 2>native.err
  ns=$?
  problem=""
  [ "$ws" -eq "$ns" ] || problem="status $ws, native $ns"
  tr -d '\r' <win.txt >win.lf
  cmp -s win.lf native.txt || problem="$problem; output differs: $(head -c 200 win.lf)"
  if [ -f native.png ]; then
    cmp -s win.png native.png || problem="$problem; files differ"
  elif [ -f win.png ]; then
    problem="$problem; wrote a file where native wrote none"
  fi
  if [ -n "$problem" ]; then
    echo "FAIL $name: $problem"
    failures=$((failures + 1))
  fi
  checked=$((checked + 1))
done

# A missing input and too few arguments.
timeout 60 wine "$exe" missing.png out.png >win.txt 2>&1; ws=$?
tr -d '\r' <win.txt >win.lf
[ "$ws" -eq 1 ] && [ "$(cat win.lf)" = "File not found: missing.png" ] || { echo "FAIL missing input: $ws $(cat win.lf)"; failures=$((failures + 1)); }
timeout 60 wine "$exe" >win.txt 2>&1; ws=$?
[ "$ws" -eq 2 ] && grep -q "Usage: mostel" win.txt || { echo "FAIL usage: $ws"; failures=$((failures + 1)); }

echo "$checked inputs compared, $failures failures"
[ "$failures" -eq 0 ]
