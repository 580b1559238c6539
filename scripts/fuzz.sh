#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for the given number of seconds
# (default 600), starting from its committed corpus and regression inputs.
# Usage: scripts/fuzz.sh [seconds] [target...]   (targets: image_decode, pipeline, ...)
# Memory is limited so that a blow-up is a finding, not a slow run: every
# process to FUZZ_RSS_MB (default 1024) and every single allocation to
# FUZZ_MALLOC_MB (default 256, the decoders' own largest buffer being 64 MB and
# libtiff's limit 256 MB). New crashing inputs are written to
# build/fuzz/crashes/<target>/; commit them under tests/fuzz/regressions/<name>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
rss=${FUZZ_RSS_MB:-1024}
malloc=${FUZZ_MALLOC_MB:-256}
scripts/setup.sh
if ! command -v clang++ >/dev/null 2>&1 || ! dpkg-query -W -f='${Status}' libclang-rt-dev 2>/dev/null | grep -q 'ok installed'; then
  echo "fuzz: installing clang and its runtime (libFuzzer)"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends clang libclang-rt-dev >/dev/null
fi
scripts/build.sh fuzz
shopt -s nullglob
if [ $# -gt 0 ]; then
  bins=()
  for name in "$@"; do bins+=("build/fuzz/tests/fuzz/fuzz_${name#fuzz_}"); done
else
  bins=(build/fuzz/tests/fuzz/fuzz_*)
fi
for bin in "${bins[@]}"; do
  [ -x "$bin" ] || { echo "fuzz: no target $bin" >&2; exit 2; }
  name=$(basename "$bin")
  work=build/fuzz/work/$name
  crashes=build/fuzz/crashes/$name
  mkdir -p "$work" "$crashes"
  seeds=()
  for dir in "tests/fuzz/corpus/${name#fuzz_}" "tests/fuzz/regressions/${name#fuzz_}"; do
    [ -d "$dir" ] && seeds+=("$dir")
  done
  echo "fuzz: $name for ${seconds}s (rss ${rss} MB, malloc ${malloc} MB)"
  "$bin" -max_total_time="$seconds" -rss_limit_mb="$rss" -malloc_limit_mb="$malloc" -timeout=60 \
    -print_final_stats=0 -artifact_prefix="$crashes/" "$work" "${seeds[@]}" \
    >"build/fuzz/$name.log" 2>&1 || { tail -40 "build/fuzz/$name.log"; exit 1; }
  grep -E '^(#[0-9]+|Done).*' "build/fuzz/$name.log" | tail -1 || true
done
