#!/usr/bin/env bash
# The demo: installs what is missing, builds the demo host (release), and runs
# it: the automation object on the simulated sensor enrols a generated finger,
# makes a verification capture of the same and of another finger, prints every
# DataEvent and the Verify and Identify answers, and writes the live display's
# frames (PNG) and a contact sheet of them.
# Usage: scripts/demo.sh [OUT_DIR]   (default demo-out)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-demo-out}
scripts/setup.sh
args=(-G Ninja -DCMAKE_BUILD_TYPE=Release)
if command -v ccache >/dev/null 2>&1; then
  args+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build/release "${args[@]}" >/dev/null
cmake --build build/release -j "$(nproc)" --target vorsensor_demo
echo
build/release/demo/vorsensor_demo data/synth "$out"
