#!/usr/bin/env bash
# Configures and builds one variant: release (default), asan (Address + Undefined
# Behaviour sanitizers), tsan (ThreadSanitizer) or fuzz (clang + libFuzzer).
# Usage: scripts/build.sh [release|asan|tsan|fuzz] [extra cmake args...]
set -euo pipefail
cd "$(dirname "$0")/.."
variant=${1:-release}
shift || true
# The sanitizer builds optimise lightly and keep line tables only: half the
# compile time of -O2 -g, and the reports still name file and line.
args=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
      "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")
case "$variant" in
  release) args=(-G Ninja -DCMAKE_BUILD_TYPE=Release) ;;
  asan) args+=(-DVS_SANITIZE=address,undefined -DVS_BUILD_BENCH=OFF) ;;
  tsan) args+=(-DVS_SANITIZE=thread -DVS_BUILD_BENCH=OFF) ;;
  fuzz) args+=(-DVS_FUZZ=ON -DVS_SANITIZE=address,undefined -DVS_BUILD_TESTS=OFF -DVS_BUILD_BENCH=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
  *) echo "unknown variant: $variant" >&2; exit 2 ;;
esac
# ccache, when present, makes rebuilds of several build variants cheap.
if command -v ccache >/dev/null 2>&1; then
  args+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "build/$variant" "${args[@]}" "$@" >/dev/null
if [ "$variant" = tsan ]; then
  # Only the threaded test executables run under ThreadSanitizer.
  mapfile -t targets < <(ninja -C build/tsan -t targets all | sed -n 's/^\([A-Za-z0-9_]*_threaded\): .*/\1/p')
  cmake --build build/tsan -j "$(nproc)" --target "${targets[@]}"
else
  cmake --build "build/$variant" -j "$(nproc)"
fi
