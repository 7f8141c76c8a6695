#!/usr/bin/env bash
# The fully static program renders every recorded checksum inside an empty
# root: nothing but itself and the scene files, no library, no /dev, no /proc.
set -euo pipefail
program=$1
source=$2
[ "$(id -u)" -eq 0 ] && command -v chroot >/dev/null || { echo "needs root and chroot: not checked"; exit 77; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
cp "$program" "$root/fotolume"
checked=0
while read -r scene width height expected; do
  case "$scene" in '#'* | '') continue ;; esac
  mkdir -p "$root/$(dirname "$scene")"
  cp "$source/$scene" "$root/$scene"
  chroot "$root" /fotolume -q "/$scene" /out.ppm "$width" "$height"
  got=$(sha256sum "$root/out.ppm" | cut -d' ' -f1)
  if [ "$got" != "$expected" ]; then
    echo "$scene ${width}x${height}: $got, recorded $expected"
    exit 1
  fi
  checked=$((checked + 1))
done <"$source/tests/image/golden.txt"
echo "$checked recorded checksums rendered in an empty root"
