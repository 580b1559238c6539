#!/usr/bin/env bash
# Plants one fault at a time in a copy of the sources, rebuilds it incrementally,
# runs the test suite and reports which faults survived.
#
# Usage: scripts/mutants.sh [-f LIST] [-m REGEX] [-j N] [-r REV]
#   -f LIST   fault list (default scripts/mutants.txt): lines `path|sed-expression|description`;
#             the expression may itself contain `|` (the path ends at the first one, the
#             description starts after the last one); `#` lines and blank lines are skipped.
#   -m REGEX  only the faults whose line matches REGEX (grep -E).
#   -j N      build and test jobs (default 2).
#   -r REV    take the sources (tests included) from commit REV instead of the working tree,
#             e.g. to measure the suite as it was before a change.
# The copy and its release build live in build/mutants/ (kept between runs, so later runs
# rebuild only what changed). A fault is "caught by a rule" when at least one failing test
# is not a golden checksum test (name containing "Golden"), "golden only" when every failing
# test is one. A fault whose pattern no longer matches, or that does not compile, is listed
# and left out of the rates. Exit status: 0 when every planted fault was caught.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
list=$root/scripts/mutants.txt
filter=
jobs=2
rev=
while getopts "f:m:j:r:" opt; do
  case $opt in
    f) list=$(cd "$(dirname "$OPTARG")" && pwd)/$(basename "$OPTARG") ;;
    m) filter=$OPTARG ;;
    j) jobs=$OPTARG ;;
    r) rev=$OPTARG ;;
    *) sed -n '2,16p' "$0"; exit 2 ;;
  esac
done
work=$root/build/mutants
src=$work/src
bld=$work/build
log=$work/log
mkdir -p "$src" "$log"

# The unchanged content of a source file.
original() {
  if [ -n "$rev" ]; then git -C "$root" show "$rev:$1"; else cat "$root/$1"; fi
}

# Bring the copy up to date; unchanged files keep their time stamps, so the
# build after the first one is incremental.
if [ -n "$rev" ]; then
  files=$(git -C "$root" ls-tree -r --name-only "$rev") || exit 2
else
  files=$(git -C "$root" ls-files)
fi
while IFS= read -r f; do
  original "$f" >"$work/file" 2>/dev/null || continue
  if ! cmp -s "$work/file" "$src/$f"; then
    mkdir -p "$(dirname "$src/$f")"
    cp "$work/file" "$src/$f"
  fi
done <<<"$files"
# Files of an earlier run that are gone from the sources.
(cd "$src" && find . -type f | sed 's|^\./||') | while IFS= read -r f; do
  grep -qxF -- "$f" <<<"$files" || rm -f "$src/$f"
done

current=
restore() {
  if [ -n "$current" ]; then
    original "$current" >"$src/$current"
    current=
  fi
}
trap 'restore; exit 130' INT TERM
trap restore EXIT

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$src" -B "$bld" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVS_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null ||
  { echo "configure failed" >&2; exit 2; }

build() { cmake --build "$bld" -j "$jobs" >"$1" 2>&1; }
# Runs the suite; prints the names of the failing tests, one a line.
failing() {
  ctest --test-dir "$bld" -j "$jobs" --timeout 120 >"$1" 2>&1
  awk '/The following tests FAILED:/ { on = 1; next } on && $2 == "-" { print $3 }' "$1"
}

echo "Building the unchanged copy in $bld ..."
build "$log/baseline-build.txt" || { echo "the unchanged sources do not build: see $log/baseline-build.txt" >&2; exit 2; }
base_fail=$(failing "$log/baseline-test.txt")
if [ -n "$base_fail" ]; then
  echo "the unchanged sources fail tests:" >&2
  echo "$base_fail" >&2
  exit 2
fi

n=0 planted=0 rule=0 golden=0 survived=0 stale=0 broken=0
survivors=() golden_only=()
while IFS= read -r line || [ -n "$line" ]; do
  case $line in '' | '#'*) continue ;; esac
  if [ -n "$filter" ] && ! grep -qE -- "$filter" <<<"$line"; then continue; fi
  n=$((n + 1))
  path=${line%%|*}
  rest=${line#*|}
  desc=${rest##*|}
  expr=${rest%|*}
  tag=$(printf '%03d' "$n")
  if [ ! -f "$src/$path" ]; then
    echo "[$tag] STALE   $path: no such file ($desc)"
    stale=$((stale + 1))
    continue
  fi
  current=$path
  sed -i -e "$expr" "$src/$path"
  if original "$path" | cmp -s - "$src/$path"; then
    echo "[$tag] STALE   $path: pattern not found ($desc)"
    stale=$((stale + 1))
    restore
    continue
  fi
  if ! build "$log/$tag-build.txt"; then
    echo "[$tag] NOBUILD $path: $desc"
    broken=$((broken + 1))
    restore
    continue
  fi
  planted=$((planted + 1))
  names=$(failing "$log/$tag-test.txt")
  restore
  if [ -z "$names" ]; then
    echo "[$tag] SURVIVED $path: $desc"
    survived=$((survived + 1))
    survivors+=("$path: $desc")
  elif grep -qv 'Golden' <<<"$names"; then
    echo "[$tag] caught  $path: $desc  <- $(grep -v Golden <<<"$names" | head -3 | tr '\n' ' ')"
    rule=$((rule + 1))
  else
    echo "[$tag] GOLDEN  $path: $desc  <- $(head -3 <<<"$names" | tr '\n' ' ')"
    golden=$((golden + 1))
    golden_only+=("$path: $desc")
  fi
done <"$list"
# Leave the copy's build matching the unchanged sources.
build "$log/final-build.txt" || true

caught=$((rule + golden))
echo
echo "faults planted: $planted (stale patterns: $stale, not compiling: $broken)"
if [ "$planted" -gt 0 ]; then
  echo "caught: $caught of $planted ($((100 * caught / planted))%); by a named rule: $rule ($((100 * rule / planted))%)," \
    "by a golden checksum only: $golden; survived: $survived"
fi
for s in "${survivors[@]}"; do echo "  survived: $s"; done
for s in "${golden_only[@]}"; do echo "  golden only: $s"; done
[ "$survived" -eq 0 ]
