#!/usr/bin/env bash
# Installs what the build needs from Debian's amd64 packages, once: the 32-bit
# runtime of gcc-multilib, the mingw-w64 i686 cross compiler, CMake, the
# GoogleTest sources and zip (for the release package) and rsvg-convert
# (librsvg2-bin: the simulator's picture as PNG). Safe to run again;
# it installs only what is missing.
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
if ! command -v qemu-i386 >/dev/null; then
  probe=$(mktemp -d)
  echo 'int main(void) { return 0; }' > "$probe/p.c"
  if ! { gcc -m32 "$probe/p.c" -o "$probe/p" 2>/dev/null && "$probe/p" 2>/dev/null; }; then
    install qemu-user
  fi
  rm -rf "$probe"
fi
