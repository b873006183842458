#!/usr/bin/env bash
# How this machine runs our i386 programs, for the build and the scripts.
#
#   bash tools/i386.sh         the command to put in front of one: nothing where
#                              the kernel runs them itself, else qemu-i386
#   bash tools/i386.sh --why   one line that says which, and why
#
# A qemu-user entry of binfmt_misc takes i386 ELF files before the kernel's
# own loader would: while one is enabled, a probe that runs proves nothing,
# every program is emulated, and LeakSanitizer (which needs ptrace, which
# qemu-i386 lacks) would wait at a program's exit for ever. Such a machine
# counts as one whose kernel does not run i386 programs.
set -uo pipefail

# The enabled binfmt_misc entry that takes i386 ELF files, if there is one.
binfmt_emulator() {
  local entry magic
  [ "$(cat /proc/sys/fs/binfmt_misc/status 2>/dev/null)" = enabled ] || return 1
  for entry in /proc/sys/fs/binfmt_misc/*; do
    case ${entry##*/} in register | status) continue ;; esac
    grep -qx enabled "$entry" 2>/dev/null || continue
    magic=$(sed -n 's/^magic //p' "$entry")
    # ELF, 32-bit, little-endian; e_machine 3 (i386) at byte 18.
    if grep -q '^interpreter .*qemu-i386' "$entry" || { [ "${magic:0:10}" = 7f454c4601 ] && [ "${magic:36:4}" = 0300 ]; }; then
      echo "${entry##*/}"
      return 0
    fi
  done
  return 1
}

probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
if entry=$(binfmt_emulator); then
  why="i386 programs run through the binfmt_misc entry '$entry' (an emulator), not the kernel"
elif ! gcc -m32 -x c - -o "$probe/p" <<<'int main(void) { return 0; }' 2>"$probe/error"; then
  why="no 32-bit program could be built to find out ($(head -1 "$probe/error"); run tools/setup.sh)"
elif error=$("$probe/p" 2>&1 >/dev/null); then
  why="the kernel runs i386 programs itself"
else
  why="this kernel does not run i386 programs (\"${error##*: }\")"
fi
if [ "${1:-}" = --why ]; then
  echo "$why"
elif [ "$why" != "the kernel runs i386 programs itself" ]; then
  command -v qemu-i386 || echo qemu-i386
fi
