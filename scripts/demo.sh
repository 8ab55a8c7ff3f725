#!/bin/sh
# Installs what the build needs, builds the release programs and runs them on the sample sprites.
# The results land in out/.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target mostel
mkdir -p out
for sprite in samples/*.png; do
  name=$(basename "$sprite" .png)
  echo "mostel $sprite -> out/${name}-3x.png"
  build/release/mostel/mostel "$sprite" "out/${name}-3x.png"
done
