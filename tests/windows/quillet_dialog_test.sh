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
fill_box() {  # window title, control id, text: the box's text replaced by typing
  click "$1" "$2"
  press End shift+Home
  xdotool type --delay 150 "$3"
  sleep 0.5
}
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

# quillet.exe in a folder of its own; its pid goes to "pid" there, its status to "status" once
# it ends.
start_exe() {  # folder, arguments...
  folder="$1"
  shift
  rm -f "$work/$folder/pid" "$work/$folder/status" "$work/$folder/out.txt" "$work/$folder/err.txt"
  (cd "$work/$folder" && {
    wine "$exe" "$@" >out.txt 2>err.txt &
    echo $! >pid
    wait $!
    echo $? >status
  }) &
}
stop_exe() {  # folder: ends its process if it still runs
  [ -f "$1/status" ] && return
  kill -9 "$(cat "$1/pid" 2>/dev/null)" 2>/dev/null
  waited=0
  while [ ! -f "$1/status" ] && [ "$waited" -lt 30 ]; do
    sleep 1
    waited=$((waited + 1))
  done
}
cpu_time() {  # pid: the process's CPU time in ticks, empty when it is gone
  sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | awk '{print $12 + $13}'
}
# Waits for a window the process of a folder is about to show. Prints "found"; "ended" when the
# process ended instead; "stalled" when its CPU time did not move for 60 s while the window
# was still missing (a program on its way to a dialog works; see wine_watched for the stall of
# the emulation); "missing" after 400 s.
expect_window() {  # title, folder
  still=0 last="" waited=0
  while [ "$waited" -lt 400 ]; do
    ask rect "$1" | grep -q '^[0-9]*x[0-9]*+' && { echo found; return; }
    [ -f "$2/status" ] && { echo ended; return; }
    cpu=$(cpu_time "$(cat "$2/pid" 2>/dev/null)")
    if [ -n "$cpu" ] && [ "$cpu" = "$last" ]; then still=$((still + 2)); else still=0; fi
    last="$cpu"
    [ "$still" -ge 60 ] && { echo stalled; return; }
    sleep 2
    waited=$((waited + 2))
  done
  echo missing
}
# Runs one part of the test (a function that returns 125 when its process stalled) until it
# did not stall, three tries at most; the failures of a stalled try do not count.
with_retries() {  # part...
  for try in 1 2 3; do
    before=$failures
    "$@"
    [ $? = 125 ] || return 0
    [ "$failures" = "$before" ] || echo "(the failures above come from a stalled try and do not count)"
    failures=$before
    echo "$*: quillet.exe stalled under the emulation (try $try)"
  done
  fail "$*: quillet.exe stalled in every try"
}
# After a window was expected: 125 for a stall, after the process was ended and its windows
# have gone; 1 with the failure recorded otherwise.
not_shown() {  # what expect_window said, folder, what was missing, titles of the run...
  seen="$1" folder="$2" missing="$3"
  shift 3
  if [ "$seen" = stalled ]; then
    stop_exe "$folder"
    for title in "$@"; do ask gone "$title" >/dev/null; done
    return 125
  fi
  fail "$missing did not appear ($seen)"
  stop_exe "$folder"
  tail -n 5 "$folder/err.txt" 2>/dev/null
  return 1
}

# The parameter dialog alone, twice: Quit in one run, the close command in the other.
params="Choose Parameters"
params_alone() {  # folder, "quit" or "close"
  rm -f "$1"/*.bmp
  start_exe "$1" -in ../interactive/sheet.bmp -out "$1.bmp"
  seen=$(expect_window "$params" "$1")
  [ "$seen" = found ] || { not_shown "$seen" "$1" "parameter dialog ($2)" "$params"; return; }
  sleep 2
  if [ "$2" = quit ]; then
    shot "$params" parameter_dialog.png
    click "$params" 2
  else
    click "$params" 1003  # a window takes keys once it was clicked
    press alt+F4
  fi
  ended_cleanly "$1" "$2"
  ls "$1"/*.bmp >/dev/null 2>&1 && fail "a frame was written after $2"
  return 0
}
with_retries params_alone params_a quit
with_retries params_alone params_b close

# Interactive use from the start.
open_title="Choose Input Image File"
save_title="Choose Output Bitmap Filename"
progress="quillet - Progress"
name_box=1148  # the file name box of the choosers
interactive() {
  rm -f interactive/frame_*.bmp
  start_exe interactive
  set -- "$open_title" "$save_title" "$params" "$progress"
  seen=$(expect_window "$open_title" interactive)
  [ "$seen" = found ] || { not_shown "$seen" interactive "open chooser" "$@"; return; }
  sleep 2
  shot "$open_title" open_chooser.png
  fill_box "$open_title" "$name_box" sheet.bmp
  press Return
  seen=$(expect_window "$save_title" interactive)
  [ "$seen" = found ] || { not_shown "$seen" interactive "save chooser" "$@"; return; }
  sleep 2
  shot "$save_title" save_chooser.png
  fill_box "$save_title" "$name_box" frame.bmp
  press Return

  seen=$(expect_window "$params" interactive)
  [ "$seen" = found ] || { not_shown "$seen" interactive "parameter dialog of the interactive run" "$@"; return; }
  sleep 2
  shot "$params" parameter_dialog_first.png
  texts=$(ask texts "$params" 1003 1006 1004 1005 1007)
  [ "$texts" = "45.000000|1.000000|1|135.000000|1.000000" ] || fail "first parameters: $texts"
  enabled=$(ask enabled "$params" 1005 1007)
  [ "$enabled" = "0 0" ] || fail "end boxes with one frame: enabled $enabled"
  fill_box "$params" 1004 2
  tries=0
  while enabled=$(ask enabled "$params" 1005 1007) && [ "$enabled" != "1 1" ] && [ "$tries" -lt 20 ]; do
    sleep 0.5
    tries=$((tries + 1))
  done
  [ "$enabled" = "1 1" ] || fail "end boxes with two frames: enabled $enabled"
  shot "$params" parameter_dialog_series.png
  fill_box "$params" 1004 500
  click "$params" 1

  seen=$(expect_window "$progress" interactive)
  [ "$seen" = found ] || { not_shown "$seen" interactive "progress dialog" "$@"; return; }
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
  return 0
}
with_retries interactive

for folder in params_a params_b interactive; do stop_exe "$folder"; done
printf 'quit\n' >&3
exec 3>&-
wait
echo "screenshots in $work/screenshots: $(ls screenshots | tr '\n' ' ')"
echo "quillet.exe dialogs under Wine, $failures failures"
[ "$failures" -eq 0 ]
