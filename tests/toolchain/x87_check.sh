#!/usr/bin/env bash
# An x87 build (doubles kept in extended precision) must stop at
# configuration with the reason, not build a program of other bytes.
set -uo pipefail
source=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
if cmake -S "$source" -B "$scratch" -DCMAKE_CXX_FLAGS=-mfpmath=387 -DFOTOLUME_TESTS=OFF \
  -DFOTOLUME_BENCHMARKS=OFF >"$scratch/log" 2>&1; then
  echo "an x87 build was configured"
  exit 1
fi
grep -q "an x87 build, whose extended precision changes image bytes" "$scratch/log" || {
  cat "$scratch/log"
  exit 1
}
echo "an x87 build is refused at configuration"
