#!/usr/bin/env bash
# Renders every example scene at 640x480 and stores it as PNG under
# docs/gallery/. Run after building: cmake --workflow --preset test
set -euo pipefail
cd "$(dirname "$0")/.."
binary=${FOTOLUME:-build/release/src/fotolume}
[ -x "$binary" ] || { echo "build first: cmake --workflow --preset test" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for scene in scenes/*.txt; do
  name=$(basename "$scene" .txt)
  "$binary" "$scene" "$scratch/$name.ppm" 640 480
  python3 tools/ppm2png.py "$scratch/$name.ppm" "docs/gallery/$name.png"
  echo "docs/gallery/$name.png  <-  fotolume $scene $name.ppm 640 480"
done
