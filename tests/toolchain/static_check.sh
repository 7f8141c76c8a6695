#!/usr/bin/env bash
# The fully static program renders every recorded checksum inside an empty
# root: nothing but itself and the scene files, no library, no /dev, no /proc.
# A program for another processor runs there through a static emulator (the
# third argument), copied in as the one other file.
set -euo pipefail
program=$1
source=$2
emulator=${3:-}
[ "$(id -u)" -eq 0 ] && command -v chroot >/dev/null || { echo "needs root and chroot: not checked"; exit 77; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
cp "$program" "$root/fotolume"
run=(/fotolume)
if [ -n "$emulator" ]; then
  cp "$emulator" "$root/emulator"
  run=(/emulator /fotolume)
fi
checked=0
while read -r scene width height expected options; do
  case "$scene" in '#'* | '') continue ;; esac
  mkdir -p "$root/$(dirname "$scene")"
  cp "$source/$scene" "$root/$scene"
  # shellcheck disable=SC2086 # the recorded options are words
  chroot "$root" "${run[@]}" -q $options "/$scene" /out.ppm "$width" "$height"
  got=$(sha256sum "$root/out.ppm" | cut -d' ' -f1)
  if [ "$got" != "$expected" ]; then
    echo "$scene ${width}x${height} $options: $got, recorded $expected"
    exit 1
  fi
  checked=$((checked + 1))
done <"$source/tests/image/golden.txt"
echo "$checked recorded checksums rendered in an empty root"
