#!/usr/bin/env bash
# Regenerates the committed synthetic fingerprint set data/synth (6 fingers x 4
# impressions, 256 x 288 at 500 dpi, seed 1, one pattern class per finger) with
# `vorsensor synth`, byte for byte.
# Usage: scripts/make_data.sh [--check] [path/to/vorsensor]
#   --check   regenerate into a temporary folder and compare with the committed
#             files (cmp); exits 1 when any file differs.
# Without a tool path, the vorsensor target of build/release is built and used.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=write
if [ "${1:-}" = "--check" ]; then
  mode=check
  shift
fi
tool=${1:-}
if [ -z "$tool" ]; then
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/release --target vorsensor -j "$(nproc)" >/dev/null
  tool=build/release/tools/vorsensor
fi
out=data/synth
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$tool" synth --out "$tmp" --fingers 6 --impressions 4 --seed 1 >/dev/null
if [ "$mode" = check ]; then
  status=0
  for f in "$tmp"/*; do
    name=$(basename "$f")
    if ! cmp -s "$f" "$out/$name"; then
      echo "make_data: $out/$name differs from the generator's output" >&2
      status=1
    fi
  done
  extra=$(comm -13 <(ls "$tmp") <(ls "$out" | grep -v '^README' ) || true)
  if [ -n "$extra" ]; then
    echo "make_data: files in $out the generator does not make: $extra" >&2
    status=1
  fi
  [ $status -eq 0 ] && echo "make_data: $out matches the generator"
  exit $status
fi
mkdir -p "$out"
rm -f "$out"/*.png "$out"/truth.csv
cp "$tmp"/* "$out"/
echo "make_data: wrote $(ls "$out"/*.png | wc -l) images and truth.csv to $out"
