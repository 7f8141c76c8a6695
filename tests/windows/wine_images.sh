#!/usr/bin/env bash
# The Windows program under Wine: every recorded image, byte for byte, on
# one thread and on three; its PNG against its PPM; an image to "-" (no
# carriage return added); a folder and file named with spaces and
# non-ASCII letters, given with backslashes; the messages and statuses of
# a scene that cannot be opened and of a bad size, as on Linux.
# Usage: wine_images.sh FOTOLUME.EXE SOURCE-DIR [LINUX-FOTOLUME]
set -uo pipefail
exe=$(realpath "$1")
source=$(realpath "$2")
command -v wine >/dev/null || { echo "wine is not installed: skipped"; exit 77; }
export WINEDEBUG=-all
scratch=$(mktemp -d)
# One Wine server for every run: a run starting while the last one's
# server shuts down can fail.
# (It stays five seconds after the last, its streams none of the caller's.)
wineserver -p5 </dev/null >/dev/null 2>&1 || true
trap 'rm -rf "$scratch"' EXIT
failed=0
checked=0
fail() {
  echo "FAILED: $*"
  failed=$((failed + 1))
}
run() { wine "$exe" "$@"; }

while read -r scene width height expected options; do
  case "$scene" in '' | '#'*) continue ;; esac
  for threads in 1 3; do
    # shellcheck disable=SC2086 # the options are words
    run $options --threads $threads "$source/$scene" "$scratch/out.ppm" "$width" "$height" \
      >"$scratch/said" 2>&1 || fail "$scene $width x $height: status $?: $(cat "$scratch/said")"
    actual=$(sha256sum <"$scratch/out.ppm" | cut -d' ' -f1)
    [ "$actual" = "$expected" ] || fail "$scene $width x $height $options on $threads threads"
    checked=$((checked + 1))
  done
done <"$source/tests/image/golden.txt"

showcase="$source/scenes/showcase.txt"
run "$showcase" "$scratch/out.ppm" 64 48 && run "$showcase" "$scratch/out.png" 64 48 ||
  fail "the showcase at 64 x 48"
if command -v pngcheck >/dev/null; then
  pngcheck -q "$scratch/out.png" >/dev/null || fail "pngcheck refuses the PNG"
fi
if command -v pngtopnm >/dev/null; then
  pngtopnm "$scratch/out.png" | cmp -s - "$scratch/out.ppm" || fail "the PNG's pixels are not the PPM's"
fi
run "$showcase" - 64 48 >"$scratch/dash.ppm" && cmp -s "$scratch/dash.ppm" "$scratch/out.ppm" ||
  fail "an image to - differs from the file's"
mkdir -p "$scratch/a folder ção"
cp "$showcase" "$scratch/a folder ção/scène ü.txt"
(cd "$scratch" && run 'a folder ção\scène ü.txt' 'a folder ção\imagem ñ.ppm' 64 48) &&
  cmp -s "$scratch/a folder ção/imagem ñ.ppm" "$scratch/out.ppm" ||
  fail "a path with spaces, non-ASCII letters and backslashes"
[ "$(ls -A "$scratch/a folder ção" | wc -l)" = 2 ] || fail "a temporary file was left: $(ls -A "$scratch/a folder ção")"

# The preview: fotolume.exe --serve starts fotolume-serve.exe beside it,
# which serves the page.
if [ -f "$(dirname "$exe")/fotolume-serve.exe" ] && command -v python3 >/dev/null; then
  wine "$exe" --serve "$showcase" 64 48 >"$scratch/serve.out" 2>&1 &
  server=$!
  page=""
  for _ in $(seq 1 100); do
    url=$(grep -o 'http://[^ ]*' "$scratch/serve.out" | head -n 1)
    [ -n "$url" ] && page=$(python3 -c 'import sys, urllib.request; print(urllib.request.urlopen(sys.argv[1], timeout=10).read().decode())' "$url" 2>/dev/null) && break
    sleep 0.2
  done
  grep -q "<title>fotolume preview</title>" <<<"$page" || fail "the preview page was not served: $(cat "$scratch/serve.out")"
  kill "$server" 2>/dev/null
  wait "$server" 2>/dev/null
fi

# The same words and statuses as the Linux program's, when it is given.
if [ $# -ge 3 ] && [ -x "$3" ]; then
  linux=$(realpath "$3")
  for words in "missing.txt out.ppm 8 6" "$showcase out.ppm 0 6" "$showcase out.ppm 8"; do
    # shellcheck disable=SC2086
    (cd "$scratch" && run $words >win.out 2>win.err; echo $? >win.status)
    # shellcheck disable=SC2086
    (cd "$scratch" && "$linux" $words >lin.out 2>lin.err; echo $? >lin.status)
    for part in out err status; do
      cmp -s "$scratch/win.$part" "$scratch/lin.$part" || fail "'$words': standard $part differs"
    done
  done
fi

echo "windows (wine): $checked recorded images checked, $failed failures"
[ "$failed" -eq 0 ]
