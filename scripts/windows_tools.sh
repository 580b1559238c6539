#!/usr/bin/env bash
# Makes ready what the Windows cross build needs and prints two cmake
# arguments naming where widl finds its inputs:
#   the MinGW-w64 POSIX-thread compilers for the given architectures (i686,
#   x86_64), widl (mingw-w64-tools), Wine's .idl files (libwine-dev, only
#   unpacked) and stdole2.tlb (from an installed Wine, else unpacked from
#   Debian's libwine package).
# Usage: scripts/windows_tools.sh i686 [x86_64]   (run from the repository root)
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=()
installed mingw-w64-tools || missing+=(mingw-w64-tools)
for arch in "$@"; do
  p=g++-mingw-w64-${arch/_/-}-posix
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "windows_tools: installing ${missing[*]}" >&2
  $SUDO apt-get update -qq >&2 || true
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
tools=$PWD/build/windows-idl
idl=$tools/libwine-dev/usr/include/wine/wine/windows
if [ ! -f "$idl/oaidl.idl" ]; then
  mkdir -p "$tools"
  (cd "$tools" && rm -f libwine-dev_*.deb && apt-get download -qq libwine-dev >&2)
  dpkg -x "$tools"/libwine-dev_*.deb "$tools/libwine-dev"
fi
stdole=$(ls /usr/lib/*/wine/*-windows/stdole2.tlb 2>/dev/null | head -1 || true)
if [ -z "$stdole" ]; then
  stdole=$(ls "$tools"/libwine/usr/lib/*/wine/*-windows/stdole2.tlb 2>/dev/null | head -1 || true)
fi
if [ -z "$stdole" ]; then
  (cd "$tools" && rm -f libwine_*.deb && apt-get download -qq libwine:amd64 >&2)
  dpkg -x "$tools"/libwine_*.deb "$tools/libwine"
  stdole=$(ls "$tools"/libwine/usr/lib/*/wine/*-windows/stdole2.tlb | head -1)
fi
echo "-DVS_IDL_INCLUDE_DIR=$idl -DVS_STDOLE2_DIR=$(dirname "$stdole")"
