#!/bin/sh
# Installs what the two programs need, builds them (without the tests) and runs them on the
# sample sprites. The results land in out/.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh programs
cmake --preset release -DPIXELTOOLS_TESTS=OFF -DPIXELTOOLS_BENCH=OFF >/dev/null
cmake --build --preset release -j "$(nproc)" --target mostel quillet
mkdir -p out
for sprite in samples/*.png; do
  name=$(basename "$sprite" .png)
  echo "mostel $sprite -> out/${name}-3x.png"
  build/release/mostel/mostel "$sprite" "out/${name}-3x.png"
done
# quillet writes its temporary files in the current directory, so it runs inside out/.
cd out
echo "quillet samples/sword.png -> out/sword-30.bmp"
../build/release/quillet/ui/quillet -in ../samples/sword.png -out sword-30 -angle 30
echo "quillet samples/slime.png -> out/slime-turn_1.bmp .. out/slime-turn_8.bmp"
../build/release/quillet/ui/quillet -in ../samples/slime.png -out slime-turn -angle 0 -endangle 315 \
  -frames 8 -scale 3
echo "quillet samples/slime.png -> out/slime-sheet.png (PNG frames that keep the transparency)"
../build/release/quillet/ui/quillet -in ../samples/slime.png -out slime-sheet -angle 0 -endangle 315 \
  -frames 8 -scale 3 -format png -sheet 4
echo "quillet samples/*.png -> out/sets/ (each in 8 directions on a sheet, with its JSON data file)"
../build/release/quillet/ui/quillet -format png -directions 8 -sheet 8 -data json -overwrite yes -quiet \
  -outdir sets -- ../samples
