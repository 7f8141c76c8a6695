#!/usr/bin/env bash
# Renders every example scene at 640x480 as PNG into docs/gallery/, and the
# anti-aliasing picture: the spheres bench scene at 320x240 with one ray a
# pixel beside --samples 4, joined by netpbm's pamcat.
# Run after building: cmake --workflow --preset test
set -euo pipefail
cd "$(dirname "$0")/.."
binary=${FOTOLUME:-build/release/src/fotolume}
[ -x "$binary" ] || { echo "build first: cmake --workflow --preset test" >&2; exit 1; }
for scene in scenes/*.txt; do
  name=$(basename "$scene" .txt)
  "$binary" -q "$scene" "docs/gallery/$name.png" 640 480
  echo "docs/gallery/$name.png  <-  fotolume $scene $name.png 640 480"
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$binary" -q bench/scenes/spheres.txt "$scratch/one.ppm" 320 240
"$binary" -q --samples 4 bench/scenes/spheres.txt "$scratch/smooth.ppm" 320 240
pamcat -lr "$scratch/one.ppm" "$scratch/smooth.ppm" | pnmtopng > docs/gallery/antialiasing.png
echo "docs/gallery/antialiasing.png  <-  one ray a pixel | --samples 4, 320x240 each"
