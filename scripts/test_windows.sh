#!/usr/bin/env bash
# The Windows tests: cross-builds VorSensorNLib.dll, its test build on the
# simulated sensor and the COM test client, and runs them under Wine in a
# fresh prefix: regsvr32 and the registry entries, creation by both ProgIDs,
# the type information, every method through the table and IDispatch,
# DataEvent on the client's thread, Verify and Identify from C++, JScript and
# VBScript, and regsvr32 /u. Passing is judged by the printed results.
#
# The product is 32-bit; its build is tested under 32-bit Wine where this
# machine's kernel runs 32-bit programs. Where it cannot (no IA-32 emulation,
# as on some virtual machines), the x86_64 build of the same sources is
# tested under 64-bit Wine instead and the script says so.
# Usage: scripts/test_windows.sh   (VS_WINDOWS_ARCH=i686|x86_64 forces one)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

# --- Can this kernel run 32-bit programs? A five-instruction i386 exit(0).
runs_32bit() {
  local dir
  dir=$(mktemp -d)
  printf '.globl _start\n_start: movl $1, %%eax\nxorl %%ebx, %%ebx\nint $0x80\n' >"$dir/t.s"
  local ok=1
  if as --32 -o "$dir/t.o" "$dir/t.s" 2>/dev/null && ld -m elf_i386 -o "$dir/t" "$dir/t.o" 2>/dev/null &&
    "$dir/t" 2>/dev/null; then
    ok=0
  fi
  rm -rf "$dir"
  return $ok
}
arch=${VS_WINDOWS_ARCH:-}
if [ -z "$arch" ]; then
  if runs_32bit; then arch=i686; else arch=x86_64; fi
fi
if [ "$arch" = x86_64 ] && [ -z "${VS_WINDOWS_ARCH:-}" ]; then
  echo "test_windows: this kernel cannot run 32-bit programs, so 32-bit Wine cannot run here;"
  echo "test_windows: testing the x86_64 build of the same sources under 64-bit Wine instead"
fi

# --- Packages: the cross compiler, widl and Wine (scripts/windows_tools.sh
# unpacks Wine's .idl files for widl).
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
packages=(mingw-w64-tools wine wine64)
if [ "$arch" = i686 ]; then
  packages+=(g++-mingw-w64-i686-posix wine32:i386)
else
  packages+=(g++-mingw-w64-x86-64-posix)
fi
missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  echo "test_windows: installing ${missing[*]}"
  pin=""
  if [ "$arch" = i686 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  # Some mirrors serve a half-synced i386 security index; the install then
  # takes the packages from the main suite (the pin is removed afterwards).
  $SUDO apt-get update -qq || {
    pin=/etc/apt/preferences.d/vorsensor-wine-test
    printf 'Package: *\nPin: release a=bookworm-security\nPin-Priority: 100\n' | $SUDO tee "$pin" >/dev/null
  }
  if ! $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
    [ -z "$pin" ] || $SUDO rm -f "$pin"
    echo "test_windows: SKIPPED: Wine and the MinGW-w64 tools cannot be installed on this machine"
    exit 0
  fi
  [ -z "$pin" ] || $SUDO rm -f "$pin"
fi
# --- Build: the module, its test build and the client, for one architecture.
build=build/windows-$arch
scripts/build.sh windows "$arch" -DVS_COM_TESTS=ON
tests=$build/com_tests
work=$root/build/wine-test
rm -rf "$work"
mkdir -p "$work"
g++ -O1 -o "$work/png_to_raw" tests/com/png_to_raw.cpp -lpng
pairs=()
for f in f01_i1 f01_i2 f01_i3 f01_i4 f02_i1; do pairs+=("data/synth/$f.png" "$work/$f.raw"); done
"$work/png_to_raw" "${pairs[@]}"

# --- Wine: a fresh prefix with the null graphics driver (no display needed).
if [ "$arch" = i686 ]; then
  wine=/usr/lib/wine/wine
else
  wine=/usr/lib/wine/wine64
  export WINELOADER=$wine
fi
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
printf 'WINE REGISTRY Version 2\n\n[Software\\\\Wine\\\\Drivers] 0\n"Graphics"="null"\n' >"$WINEPREFIX/user.reg"
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT
winpath() { echo "Z:$(realpath "$1" | sed 's|/|\\|g')"; }
# Wine's output goes to files: a helper process can keep a pipe open.
"$wine" wineboot -i >"$work/wineboot.log" 2>&1 || true

pass=0
fail=0
# Runs a test program whose output ends in "RESULT pass=N fail=M" and adds those up.
run() {
  local name=$1
  shift
  "$@" >"$work/$name.log" 2>&1 || true
  cat "$work/$name.log"
  local line
  line=$(grep -a '^RESULT pass=' "$work/$name.log" | tail -1 || true)
  if [ -z "$line" ]; then
    echo "FAIL $name printed no result"
    fail=$((fail + 1))
    return
  fi
  local p f
  p=$(echo "$line" | sed 's/.*pass=\([0-9]*\).*/\1/')
  f=$(echo "$line" | sed 's/.*fail=\([0-9]*\).*/\1/')
  pass=$((pass + p))
  fail=$((fail + f))
}
# One check made here: the exit code of a Wine command.
check() {
  local what=$1 expected=$2
  shift 2
  local code=0
  "$@" >>"$work/commands.log" 2>&1 || code=$?
  if [ "$code" = "$expected" ]; then
    echo "ok   $what"
    pass=$((pass + 1))
  else
    echo "FAIL $what (exit $code, expected $expected)"
    fail=$((fail + 1))
  fi
}

dll=$(winpath "$build/VorSensorNLib.dll")
templates="$(winpath "$work")\\templates.txt"
echo "== events: the test build on the simulated sensor"
run events "$wine" "$tests/com_client.exe" events "$(winpath "$tests/VorSensorNSimTest.dll")" "$(winpath "$work")" \
  "$templates"
echo "== registration"
check "regsvr32 VorSensorNLib.dll" 0 "$wine" regsvr32 /s "$dll"
run registered "$wine" "$tests/com_client.exe" registered "$templates" "$dll"

echo "== script hosts"
if [ -s "$work/templates.txt" ]; then
  mapfile -t t < <(tr -d '\r' <"$work/templates.txt")
  for script in identify.js identify.vbs; do
    sed -e "s/@ENROLLED@/${t[0]}/" -e "s/@SAME@/${t[1]}/" -e "s/@OTHER@/${t[2]}/" "tests/com/$script" >"$work/$script"
    run "$script" "$wine" cscript //nologo "$(winpath "$work/$script")"
  done
else
  echo "FAIL no templates for the scripts"
  fail=$((fail + 1))
fi

echo "== unregistration"
check "regsvr32 /u VorSensorNLib.dll" 0 "$wine" regsvr32 /s /u "$dll"
run unregistered "$wine" "$tests/com_client.exe" unregistered

echo "== imports of the module (system DLLs only)"
imports=$("$arch-w64-mingw32-objdump" -p "$build/VorSensorNLib.dll" | sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z' | sort)
echo "$imports" | sed 's/^/     /'
unexpected=$(echo "$imports" | grep -v -x -E 'KERNEL32.DLL|USER32.DLL|GDI32.DLL|ADVAPI32.DLL|OLE32.DLL|OLEAUT32.DLL|SETUPAPI.DLL|MSVCRT.DLL' || true)
if [ -z "$unexpected" ]; then
  echo "ok   VorSensorNLib.dll imports only system DLLs"
  pass=$((pass + 1))
else
  echo "FAIL VorSensorNLib.dll imports $unexpected"
  fail=$((fail + 1))
fi
exports=$("$arch-w64-mingw32-objdump" -p "$build/VorSensorNLib.dll" | sed -n 's/^\s*\[ *[0-9]*\] \(Dll[A-Za-z]*\)$/\1/p' | sort -u | tr '\n' ' ')
if [ "$exports" = "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ]; then
  echo "ok   the four exports"
  pass=$((pass + 1))
else
  echo "FAIL exports: $exports"
  fail=$((fail + 1))
fi

echo "RESULT pass=$pass fail=$fail ($arch)"
[ "$fail" -eq 0 ]
