#!/bin/sh
# The dialogs of quillet.exe under Wine, driven with the keyboard and the mouse (xdotool) and
# read back by dialog_probe.exe:
# - started without arguments: the open chooser, then the save chooser, each with its title;
#   the parameter dialog shows 45.000000, 1.000000, 1, 135.000000, 1.000000 with the two end
#   boxes disabled, and typing 2 as the frame count enables them; Run starts the job and the
#   progress dialog appears; Esc there does nothing; its Cancel ends the process with status
#   0 in the middle of the job;
# - started with only the file names: the parameter dialog's Quit, and its close command
#   (Alt+F4, what the close box sends), end the process with status 0.
# A screenshot of every dialog is kept in the work folder.
# Arguments: quillet.exe, dialog_probe.exe, native quillet, samples folder, work folder.
# Needs a display.
set -u
exe="$1" probe="$2" native="$3" samples="$4" work="$5"
[ -x "$native" ] || { echo "native build missing: $native" >&2; exit 1; }
PREFIX_DIR="$(dirname "$work")/prefix"
. "$(dirname "$0")/wine_env.sh"
rm -rf "$work"
mkdir -p "$work/interactive" "$work/params_a" "$work/params_b" "$work/screenshots"
cd "$work" || exit 1

failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

# The picture of the jobs; the interactive one asks for many frames, so that it still runs
# when its Cancel comes.
"$native" -in "$samples/sheet.png" -out interactive/sheet.bmp -scale 4 -angle 0 2>/dev/null ||
  fail "native could not make sheet.bmp"

# The probe answers one line per request, after a first line when it is ready.
mkfifo requests
: >answers
timeout -k 10 600 wine "$probe" <requests >answers 2>probe.err &
probe_pid=$!
exec 3>requests
# The probe is up before the first dialog.
waited=0
while [ "$(wc -l <answers)" -lt 1 ] && [ "$waited" -lt 300 ]; do
  sleep 1
  waited=$((waited + 1))
done
ask() {  # fields of one request; prints the answer (ask runs in subshells: count the file)
  asked=$(($(wc -l <answers) + 1))
  printf '%s' "$1" >&3
  shift
  for field in "$@"; do printf '\t%s' "$field" >&3; done
  printf '\n' >&3
  waited=0
  while [ "$(wc -l <answers)" -lt "$asked" ] && [ "$waited" -lt 3000 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  sed -n "${asked}p" answers | tr -d '\r'
}

shot() {  # window title, file name: the window's part of the screen
  import -window root -crop "$(ask rect "$1")" +repage "screenshots/$2"
}
click() {  # window title, control id; a click also makes the window take the keys
  at=$(ask center "$1" "$2")
  # A slow click, as a hand gives it: the emulated program misses a press and release
  # that come at once.
  # shellcheck disable=SC2086
  xdotool mousemove $at
  sleep 0.5
  xdotool mousedown 1
  sleep 0.3
  xdotool mouseup 1
}
# Keys as slowly as a hand gives them; "alt+F4" holds alt while F4 goes down and up.
press() {
  for combo in "$@"; do
    keys=$(echo "$combo" | tr '+' ' ')
    for key in $keys; do xdotool keydown "$key"; sleep 0.2; done
    for key in $(echo "$keys" | awk '{for (i = NF; i > 0; i--) printf "%s ", $i}'); do xdotool keyup "$key"; sleep 0.2; done
  done
}
type_text() { xdotool type --delay 150 "$1"; sleep 0.5; }
wait_status() {  # folder; waits up to 120 s for the process to end, prints its status
  waited=0
  while [ ! -f "$1/status" ] && [ "$waited" -lt 120 ]; do
    sleep 1
    waited=$((waited + 1))
  done
  cat "$1/status" 2>/dev/null || echo "still running"
}
# The process of a folder ended with status 0. Under the emulated i386 the emulator itself
# sometimes crashes while Wine takes down the other threads of an ending process (it then
# says "qemu: uncaught target signal" on standard error and the status is 139): that process
# did end where it should, which is noted, not failed. A crash in the program's own code
# would reach Wine's handler instead and not end this way.
ended_cleanly() {  # folder, what ended it
  status=$(wait_status "$1")
  [ "$status" = 0 ] && return
  if [ "$status" != "still running" ] && grep -q "qemu: uncaught target signal" "$1/err.txt"; then
    echo "NOTE $2: the emulator crashed while the process ended (status $status)"
  else
    fail "$2: status $status"
  fi
}

run_exe() {  # folder, arguments...
  folder="$1"
  shift
  (cd "$work/$folder" && timeout -k 10 600 wine "$exe" "$@" >out.txt 2>err.txt; echo $? >status)
}

# The parameter dialog alone, twice: Quit in one, the close command in the other. Both show
# the same title, so which one a click reaches is not known beforehand.
run_exe params_a -in ../interactive/sheet.bmp -out a.bmp &
run_exe params_b -in ../interactive/sheet.bmp -out b.bmp &
params="Choose Parameters"
ended_one() {  # waits up to 120 s for one of the two to end; prints the other one
  waited=0
  while [ "$waited" -lt 120 ]; do
    [ -f params_a/status ] && { echo params_b; return; }
    [ -f params_b/status ] && { echo params_a; return; }
    sleep 1
    waited=$((waited + 1))
  done
  echo none
}
if [ "$(ask wait "$params")" = found ]; then
  sleep 10  # the second one may still be on its way
  shot "$params" parameter_dialog.png
  click "$params" 2
  other=$(ended_one)
  [ "$other" != none ] || fail "Quit did not end the process"
  if [ "$other" != none ] && [ "$(ask wait "$params")" = found ]; then
    click "$params" 1003  # a window takes keys once it was clicked
    press alt+F4
  else
    fail "second parameter dialog did not appear"
  fi
  for folder in params_a params_b; do ended_cleanly "$folder" "Quit or close ($folder)"; done
else
  fail "parameter dialog did not appear"
fi
ls params_a/*.bmp params_b/*.bmp >/dev/null 2>&1 && fail "a frame was written after Quit or close"

# Interactive use from the start, once no other dialog is left to take the keyboard.
run_exe interactive &
open_title="Choose Input Image File"
save_title="Choose Output Bitmap Filename"
progress="quillet - Progress"
name_box=1148  # the file name box of the choosers
if [ "$(ask wait "$open_title")" = found ]; then
  sleep 2
  shot "$open_title" open_chooser.png
  click "$open_title" "$name_box"
  press End shift+Home
  type_text sheet.bmp
  press Return
  if [ "$(ask wait "$save_title")" = found ]; then
    sleep 2
    shot "$save_title" save_chooser.png
    click "$save_title" "$name_box"
    press End shift+Home
    type_text frame.bmp
    press Return
  else
    fail "save chooser did not appear"
  fi
else
  fail "open chooser did not appear"
fi

if [ "$(ask wait "$params")" = found ]; then
  sleep 2
  shot "$params" parameter_dialog_first.png
  texts=$(ask texts "$params" 1003 1006 1004 1005 1007)
  [ "$texts" = "45.000000|1.000000|1|135.000000|1.000000" ] || fail "first parameters: $texts"
  enabled=$(ask enabled "$params" 1005 1007)
  [ "$enabled" = "0 0" ] || fail "end boxes with one frame: enabled $enabled"
  click "$params" 1004
  press End shift+Home
  type_text 2
  tries=0
  while enabled=$(ask enabled "$params" 1005 1007) && [ "$enabled" != "1 1" ] && [ "$tries" -lt 20 ]; do
    sleep 0.5
    tries=$((tries + 1))
  done
  [ "$enabled" = "1 1" ] || fail "end boxes with two frames: enabled $enabled"
  shot "$params" parameter_dialog_series.png
  click "$params" 1004
  press End shift+Home
  type_text 500
  click "$params" 1
  if [ "$(ask wait "$progress")" = found ]; then
    sleep 2
    shot "$progress" progress_dialog.png
    click "$progress" 1009
    press Escape
    sleep 3
    [ -f interactive/status ] && fail "Esc in the progress dialog ended the process"
    [ "$(ask texts "$progress" 1006)" = Cancel ] || fail "progress dialog gone after Esc"
    click "$progress" 1006
    ended_cleanly interactive Cancel
    written=$(ls interactive | grep -c '^frame_.*\.bmp$')
    [ "$written" -lt 500 ] || fail "all frames were written although the job was cancelled"
  else
    fail "progress dialog did not appear"
  fi
else
  fail "parameter dialog of the interactive run did not appear"
fi

printf 'quit\n' >&3
exec 3>&-
wait
echo "screenshots in $work/screenshots: $(ls screenshots | tr '\n' ' ')"
echo "quillet.exe dialogs under Wine, $failures failures"
[ "$failures" -eq 0 ]
