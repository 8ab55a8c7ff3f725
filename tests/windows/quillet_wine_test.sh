#!/bin/sh
# quillet.exe run once from a full command line under Wine must write the same frames, byte
# for byte, as the native quillet: from a 24-bit BMP (read by GDI) and from a PNG (converted
# by GDI+, under a name outside ASCII; a transparent one, so it is laid over the background
# first), one frame and a series, and PNG frames made into a sprite sheet. A job that cannot write its
# frame must end with a non-zero status. Every run works in a folder of its own, since the
# temporary files lie in the current directory. A run with no display (no progress dialog)
# must still do its job.
# Arguments: quillet.exe, native quillet, samples folder, work folder, and which inputs: "bmp"
# (the BMP frame and the unwritable job) or "png" (the PNG series and sheet). Needs a display.
set -u
exe="$1" native="$2" samples="$3" work="$4" cases="$5"
[ -x "$native" ] || { echo "native build missing: $native" >&2; exit 1; }
PREFIX_DIR="$(dirname "$work")/prefix"
. "$(dirname "$0")/wine_env.sh"
rm -rf "$work"
mkdir -p "$work/native" "$work/bmp_one" "$work/png_series" "$work/unwritable" "$work/native_png" \
  "$work/png_sheet" "$work/native_sheet"
cd "$work" || exit 1

failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

# A 24-bit BMP from the native program, and a PNG whose name needs the ANSI code page.
png_name="sl€me.png"
cp "$samples/slime.png" "$png_name"
"$native" -in "$samples/sword.png" -out sword.bmp -angle 0 2>/dev/null || fail "native could not make sword.bmp"

run_native() {  # folder, arguments...
  folder="$1"
  shift
  (cd "$work/$folder" && "$native" "$@" 2>/dev/null)
}
run_native native -in ../sword.bmp -out bmp_one.bmp -angle 30
run_native native_png -in "../$png_name" -out png_series -angle 0 -endangle 90 -scale 1 -endscale 2 -frames 3
sheet_args="-angle 0 -endangle 315 -frames 8 -format png -sheet 4"
run_native native_sheet -in "../$png_name" -out sheet $sheet_args

# A run that stalls under the emulation (see wine_watched) is started again in an emptied
# folder, five tries at most; every stall is reported.
run_exe() {  # folder, arguments...
  folder="$1"
  shift
  (
    cd "$work/$folder" || exit 1
    for try in 1 2 3 4 5; do
      rm -f ./*
      WINE_LIMIT=420 WINE_STALL=45 wine_watched "$exe" "$@" >out.txt 2>err.txt
      status=$?
      echo $status >status
      [ $status = 125 ] || break
      echo "$folder: quillet.exe stalled under the emulation (try $try)"
    done
  )
}
start=$(date +%s)
if [ "$cases" = png ]; then
  folders="png_series png_sheet"
  run_exe png_series -in "../$png_name" -out png_series -angle 0 -endangle 90 -scale 1 -endscale 2 -frames 3 &
  # shellcheck disable=SC2086
  run_exe png_sheet -in "../$png_name" -out sheet $sheet_args &
  wait
  [ "$(cat png_series/status)" = 0 ] || fail "PNG run ended with status $(cat png_series/status)"
  for k in 1 2 3; do
    cmp -s "native_png/png_series_$k.bmp" "png_series/png_series_$k.bmp" || fail "PNG series frame $k differs"
  done
  [ "$(cat png_sheet/status)" = 0 ] || fail "sheet run ended with status $(cat png_sheet/status)"
  [ -s native_sheet/sheet.png ] || fail "native made no sheet.png"
  cmp -s native_sheet/sheet.png png_sheet/sheet.png || fail "PNG sheet differs from the native one"
else
  folders="bmp_one unwritable no_display"
  mkdir -p "$work/no_display"
  run_exe bmp_one -in ../sword.bmp -out bmp_one.bmp -angle 30 &
  run_exe unwritable -in ../sword.bmp -out no_such_folder/frame.bmp -angle 30 &
  wait
  # With no display the progress dialog cannot be shown: the job must run without it.
  (unset DISPLAY; run_exe no_display -in ../sword.bmp -out bmp_one.bmp -angle 30)
  [ "$(cat bmp_one/status)" = 0 ] || fail "BMP run ended with status $(cat bmp_one/status)"
  cmp -s native/bmp_one.bmp bmp_one/bmp_one.bmp || fail "BMP frame differs from the native one"
  [ "$(cat no_display/status)" = 0 ] || fail "run without a display ended with status $(cat no_display/status)"
  cmp -s native/bmp_one.bmp no_display/bmp_one.bmp || fail "run without a display wrote no frame, or another one"
  status=$(cat unwritable/status)
  case "$status" in
    0 | 124 | 125 | 137) fail "a job that wrote no frame ended with status $status" ;;
  esac
fi
echo "quillet.exe runs took $(($(date +%s) - start)) s"

for folder in $folders; do
  for temp in _temp.bmp temp24.tif temp24.bmp; do
    [ -e "$folder/$temp" ] && fail "$folder: $temp left behind"
  done
done
# Each job's own temporary folder goes when the job ends.
for left in "$WINEPREFIX"/drive_c/users/*/Temp/quillet-* "$WINEPREFIX"/drive_c/windows/temp/quillet-*; do
  [ -e "$left" ] && fail "temporary folder left behind: $left"
done

echo "quillet.exe compared under Wine, $failures failures"
[ "$failures" -eq 0 ]
