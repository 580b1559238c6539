#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for the given number of seconds
# (default 600), starting from its committed corpus. New crashing inputs are
# written to build/fuzz/crashes/<target>/; commit them under tests/fuzz/regressions/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
scripts/build.sh fuzz
shopt -s nullglob
for bin in build/fuzz/tests/fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  corpus=tests/fuzz/corpus/${name#fuzz_}
  work=build/fuzz/work/$name
  crashes=build/fuzz/crashes/$name
  mkdir -p "$work" "$crashes"
  seeds=()
  [ -d "$corpus" ] && seeds+=("$corpus")
  echo "fuzz: $name for ${seconds}s"
  "$bin" -max_total_time="$seconds" -print_final_stats=0 -artifact_prefix="$crashes/" "$work" "${seeds[@]}" \
    >"build/fuzz/$name.log" 2>&1 || { tail -40 "build/fuzz/$name.log"; exit 1; }
  grep -E '^(#[0-9]+|Done).*' "build/fuzz/$name.log" | tail -1 || true
done
