#!/bin/bash
# Godot 3 (headless) imports a sheet that quillet writes and loads its SpriteFrames resource,
# and the same for frames written one to a file; what Godot reports of every frame is compared
# with the JSON data quillet writes for the same series (whose boxes the web consumers check
# against the sheet's pixels).
# Usage: run.sh QUILLET INPUT_PNG WORK_DIR
set -u
quillet=$1 input=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
godot=${GODOT:-godot3-server}
rm -rf "$work" && mkdir -p "$work/home" || exit 1
export HOME=$work/home XDG_DATA_HOME=$work/home XDG_CONFIG_HOME=$work/home XDG_CACHE_HOME=$work/home LC_ALL=C.UTF-8
passed=0 failed=0

# A Godot project holding the given files, imported, then check.gd run in it.
load_in_godot() {  # project_dir
  printf 'config_version=4\n\n[application]\n\nconfig/name="quillet data"\n' > "$1/project.godot"
  cp "$here/check.gd" "$1/"
  timeout 120 "$godot" --path "$1" --editor --quit > "$1/import.log" 2>&1 || { cat "$1/import.log"; return 1; }
  timeout 120 "$godot" --path "$1" -s check.gd 2> "$1/check.err" | grep -E '^(ANIMATION|FRAME|RESULT) ' > "$1/got.txt"
}

compare() {  # what, project_dir
  if diff -u "$2/want.txt" "$2/got.txt"; then passed=$((passed + 1)); else echo "FAILED: $1"; cat "$2/check.err"; failed=$((failed + 1)); fi
}

# A sheet: every frame an AtlasTexture of its box, and the rest of its canvas as margin.
mkdir -p "$work/sheet"
for data in json godot; do
  "$quillet" -in "$input" -out "$work/sheet/walk" -format png -sheet 3 -angle 0 -endangle 120 -frames 5 \
    -data "$data" -fps 8 -quiet || { echo "FAILED: quillet -data $data"; exit 1; }
done
node -e '
  const data = JSON.parse(require("fs").readFileSync(process.argv[1], "utf8"));
  for (const [name, list] of Object.entries(data.animations)) {
    console.log(`ANIMATION ${name} frames=${list.length} speed=8 loop=True`);
    list.forEach((key, k) => {
      const f = data.frames[key], r = f.frame, s = f.spriteSourceSize, c = f.sourceSize;
      console.log(`FRAME ${name} ${k} region=${r.x},${r.y},${r.w},${r.h} margin=${s.x},${s.y},${c.w - r.w},${c.h - r.h} ` +
                  `size=${c.w},${c.h} atlas=${data.meta.size.w},${data.meta.size.h}`);
    });
  }
  console.log("RESULT loaded");' "$work/sheet/walk.json" > "$work/sheet/want.txt"
rm "$work/sheet/walk.json"
load_in_godot "$work/sheet" && compare "Godot loads the sheet's frames" "$work/sheet"

# Frames one to a file: each file is a frame as it stands.
mkdir -p "$work/files"
"$quillet" -in "$input" -out "$work/files/walk" -format png -angle 0 -endangle 90 -frames 3 -data godot -quiet \
  || { echo "FAILED: quillet -data godot for frames"; exit 1; }
size=$(node -e '
  const b = require("fs").readFileSync(process.argv[1]);
  console.log(`${b.readUInt32BE(16)},${b.readUInt32BE(20)}`);' "$work/files/walk_1.png")
{
  echo "ANIMATION walk frames=3 speed=10 loop=True"
  for k in 0 1 2; do echo "FRAME walk $k file=walk_$((k + 1)).png size=$size"; done
  echo "RESULT loaded"
} > "$work/files/want.txt"
load_in_godot "$work/files" && compare "Godot loads frames written one to a file" "$work/files"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -eq 2 ]
