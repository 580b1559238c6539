#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs the tests
# in a release build, under Address + Undefined Behaviour sanitizers, the
# threaded tests under ThreadSanitizer, and the Windows DLL under Wine. The fuzz
# targets run in the sanitizer build on their corpus, their regression inputs
# and deterministic mutants of them (tests fuzz_replay.*); scripts/fuzz.sh does
# the real fuzzing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

echo "== release"
scripts/build.sh release
ctest --test-dir build/release --output-on-failure -j "$jobs"

echo "== address + undefined behaviour sanitizers"
scripts/build.sh asan
ctest --test-dir build/asan --output-on-failure -j "$jobs"

echo "== thread sanitizer (threaded tests)"
scripts/build.sh tsan
ctest --test-dir build/tsan --output-on-failure -j "$jobs" -L threaded --no-tests=ignore

echo "== windows: VorSensorNLib.dll under Wine"
scripts/test_windows.sh

echo "== all tests passed"
