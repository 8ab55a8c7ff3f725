#!/bin/sh
# The 32-bit mostel under Wine must write byte-identical files and end with the same status as
# the native mostel on the sample sprites and on every file of the PNG suite, corrupt ones
# included; mostel.exe itself must also print the same messages (line ends aside).
# Arguments: mostel.exe, mostel_batch.exe, native mostel, samples folder, PNG suite folder,
# work folder.
set -u
exe="$1" batch="$2" native="$3" samples="$4" suite="$5" work="$6"
[ -x "$native" ] || { echo "native build missing: $native" >&2; exit 1; }
PREFIX_DIR="$(dirname "$work")/prefix"
. "$(dirname "$0")/wine_env.sh"
rm -rf "$work"
mkdir -p "$work/native" "$work/win" "$work/exe"
cd "$work" || exit 1

# The native results, and two halves of the list for two batch processes.
: >list1
: >list2
n=0
for input in "$samples"/*.png "$suite"/*.png; do
  name=$(basename "$input" .png)
  "$native" "$input" "native/$name.png" >"native/$name.txt" 2>/dev/null
  echo "STATUS $? $input" >>native/statuses
  printf '%s\t%s\n' "$input" "$work/win/$name.png" >>"list$((n % 2 + 1))"
  n=$((n + 1))
done

timeout 1200 wine "$batch" list1 >batch1.out 2>batch1.err &
p1=$!
timeout 1200 wine "$batch" list2 >batch2.out 2>batch2.err &
p2=$!
wait $p1 $p2
grep -h '^STATUS' batch1.err batch2.err | tr -d '\r' | sort >win.statuses
sort native/statuses >native.statuses

failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
cmp -s win.statuses native.statuses || fail "exit statuses differ: $(diff native.statuses win.statuses | head -5)"
for f in native/*.png; do
  name=$(basename "$f")
  cmp -s "$f" "win/$name" || fail "$name differs"
done
for f in win/*.png; do
  [ -f "native/$(basename "$f")" ] || fail "$(basename "$f") written where native wrote none"
done

# The program itself: a picture, a corrupt file, a missing file, too few arguments.
run_exe() {  # name, arguments...
  name="$1"
  shift
  timeout 600 wine "$exe" "$@" >"exe/$name.txt" 2>/dev/null
  echo $? >"exe/$name.status"
}
run_exe sheet "$samples/sheet.png" exe/sheet.png &
run_exe corrupt "$suite/xc1n0g08.png" exe/corrupt.png &
wait
run_exe missing missing.png exe/missing.png &
run_exe usage &
wait
check_exe() {  # name, expected status, expected text file
  tr -d '\r' <"exe/$1.txt" >"exe/$1.lf"
  [ "$(cat "exe/$1.status")" = "$2" ] || fail "mostel.exe $1: status $(cat "exe/$1.status"), expected $2"
  cmp -s "exe/$1.lf" "$3" || fail "mostel.exe $1 printed: $(head -c 200 "exe/$1.lf")"
}
check_exe sheet 0 native/sheet.txt
cmp -s exe/sheet.png native/sheet.png || fail "mostel.exe sheet.png differs"
check_exe corrupt 1 native/xc1n0g08.txt
printf 'File not found: missing.png\n' >exe/missing.expected
check_exe missing 1 exe/missing.expected
printf 'Usage: mostel <input png 32bit> <output png 32bit>\n*** Programmed by Oberin. ***\n' >exe/usage.expected
check_exe usage 2 exe/usage.expected

echo "$n inputs compared under Wine, $failures failures"
[ "$failures" -eq 0 ]
