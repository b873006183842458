#!/usr/bin/env bash
# Installs what the build needs from Debian's amd64 packages, once: the 32-bit
# runtime of gcc-multilib, the mingw-w64 i686 cross compiler, CMake, the
# GoogleTest sources and zip (for the release package) and rsvg-convert
# (librsvg2-bin: the simulator's picture as PNG). Safe to run again;
# it installs only what is missing.
#
# `setup.sh --wine` also installs Debian's Wine (32-bit, from the i386
# architecture) and creates the Wine prefix tools/wine-check.sh runs in:
# $ZEPHAL_WINEPREFIX, by default build/wine-prefix.
set -euo pipefail

need=()
pkgs=(g++ g++-multilib g++-mingw-w64-i686 cmake make googletest zip unzip librsvg2-bin)
# tools/fuzz.sh: clang and its i386 libFuzzer and sanitizer runtimes.
[ "${1:-}" = fuzz ] && pkgs+=(clang libclang-rt-14-dev)
for pkg in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need+=("$pkg")
done
[ -d /usr/src/googletest ] || need+=(googletest)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
updated=0
install() {
  echo "setup: installing $*"
  [ $updated -eq 1 ] || $sudo apt-get update -qq
  updated=1
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}
[ ${#need[@]} -eq 0 ] || install "${need[@]}"

# Some kernels are built without i386 support: our 32-bit programs then run
# under qemu-i386, Debian's user-mode emulator (an amd64 package). The probe
# needs gcc-multilib's 32-bit runtime, so it comes after the packages above.
if ! command -v qemu-i386 >/dev/null && [ -n "$(bash "$(dirname "$0")/i386.sh")" ]; then
  install qemu-user
fi

[ "${1:-}" = --wine ] || exit 0

if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed" ||
  ! dpkg-query -W -f='${Status}' wine 2>/dev/null | grep -q "install ok installed"; then
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  updated=0  # the i386 package lists are new
  install wine32:i386 wine
fi

# A prefix made without asking: no Mono (mscoree) or Gecko (mshtml) download
# prompt, which would wait for a click that never comes. QEMU_RESERVED_VA is
# for kernels without i386 support, where the emulator runs Wine: it must
# hold the whole 32-bit space, or Wine cannot map the page Windows keeps at
# 0x7ffe0000 (elsewhere nothing reads it).
prefix=${ZEPHAL_WINEPREFIX:-$(cd "$(dirname "$0")/.." && pwd)/build/wine-prefix}
if [ ! -f "$prefix/system.reg" ]; then
  echo "setup: creating the Wine prefix $prefix (seconds where i386 programs run natively, minutes under qemu-i386)"
  mkdir -p "$prefix"
  export WINEPREFIX=$prefix WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all QEMU_RESERVED_VA=${QEMU_RESERVED_VA:-0xf7000000}
  wine wineboot -i >/dev/null 2>&1 </dev/null
  wineserver -w
  [ -f "$prefix/system.reg" ] || { echo "setup: Wine could not create $prefix" >&2; exit 1; }
fi
