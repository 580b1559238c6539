#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, when missing.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git ccache
  libgtest-dev libgmock-dev libbenchmark-dev   # tests and benchmarks
  libpng-dev libtiff-dev                       # image files (imageio)
  libcli11-dev                                 # command-line parsing (vorsensor)
  nlohmann-json3-dev                           # --json output (vorsensor)
  libcairo2-dev                                # drawing minutiae over images (vorsensor draw)
  libssl-dev                                   # test-only reference cipher
  g++-mingw-w64-i686                           # syntax check of the Windows platform part
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
