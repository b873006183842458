#!/usr/bin/env bash
# Runs the Windows builds in out/ under Wine, an implementation of Windows
# nobody here wrote, and compares each result with the Linux build's on the
# same input: standard output, standard error, exit status and every file the
# program wrote, byte for byte. One line per comparison, then "N passed,
# N failed". Build first (bash tools/build.sh); Wine and its prefix come from
# `bash tools/setup.sh --wine` ($ZEPHAL_WINEPREFIX, default build/wine-prefix).
#
#   bash tools/wine-check.sh              every comparison
#   bash tools/wine-check.sh --only TEXT  those whose line contains TEXT (again: any of the texts)
#
# Where Windows programs write CRLF and ours LF (the C runtime's text-mode
# console output), the line ends are set aside and the line says so.
set -uo pipefail
only=()
while [ $# -gt 0 ]; do
  case $1 in
    --only) only+=("$2"); shift 2 ;;
    -h|--help) sed -n '2,/^set /p' "$0" | grep '^#' | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "wine-check: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
# wanted LABEL: whether the comparison named LABEL is one of those asked for.
wanted() {
  [ ${#only[@]} -eq 0 ] && return 0
  local text
  for text in "${only[@]}"; do [[ $1 == *"$text"* ]] && return 0; done
  return 1
}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=$root/out
build=${ZEPHAL_BUILD:-$root/build}

for f in zephal-check zephal-check.exe zephal-presets zephal-presets.exe; do
  [ -f "$out/$f" ] || { echo "wine-check: $out/$f is missing: run bash tools/build.sh first" >&2; exit 2; }
done
command -v wine >/dev/null && [ -f "${ZEPHAL_WINEPREFIX:-$build/wine-prefix}/system.reg" ] ||
  bash tools/setup.sh --wine || exit 2
# No Mono or Gecko prompts; no menu entries and no debugger started on a crash
# (a crash still shows in the exit status and on the standard error).
export WINEPREFIX=${ZEPHAL_WINEPREFIX:-$build/wine-prefix} WINEDEBUG=-all \
  WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d"
# Under qemu-i386 (binfmt_misc) Wine needs the emulator to hold the whole
# 32-bit address space, or the page Windows keeps at 0x7ffe0000 is taken.
export QEMU_RESERVED_VA=${QEMU_RESERVED_VA:-0xf7000000}
# One Wine session for every program of the run, ended with it.
wineserver -k 2>/dev/null
wineserver -p
work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
# Wine's background services (started with the session's first program)
# write to that program's standard error for as long as they run: start
# them with one of Wine's own programs, so that what a compared program
# writes is its own.
wine cmd.exe /c exit >"$work/session.log" 2>&1 </dev/null
mkdir -p "$work/in"
passed=0 failed=0

# verdict LABEL WHY NOTE MILLISECONDS: counts and prints one comparison's
# line; false when WHY names a difference.
verdict() {
  local time="($(($4 / 1000)).$(($4 % 1000 / 100)) s under Wine)"
  if [ -z "$2" ]; then
    passed=$((passed + 1))
    echo "pass  $1$3 $time"
  else
    failed=$((failed + 1))
    echo "FAIL  $1:${2%;} $time"
    return 1
  fi
}

# compare LABEL TOOL ARGS...: TOOL (zephal-check, zephal-presets) runs twice,
# as the Linux build and under Wine, each in its own copy of $work/in with the
# arguments as given (names relative to that folder, so both print the same).
compare() {
  local label=$1 tool=$2 side why="" started
  shift 2
  wanted "$label" || return 0
  for side in linux windows; do
    rm -rf "${work:?}/$side" && cp -a "$work/in" "$work/$side"
    if [ $side = linux ]; then
      (cd "$work/$side" && "$root/tools/run32" "$out/$tool" "$@" >"$work/$side.out" 2>"$work/$side.err" </dev/null)
    else
      started=$(date +%s%N)
      (cd "$work/$side" && wine "$out/$tool.exe" "$@" >"$work/$side.out" 2>"$work/$side.err" </dev/null)
    fi
    echo $? >"$work/$side.status"
  done
  local took=$((($(date +%s%N) - started) / 1000000))
  local crlf=""
  for part in out err; do
    if ! cmp -s "$work/linux.$part" "$work/windows.$part"; then
      if cmp -s "$work/linux.$part" <(sed 's/\r$//' "$work/windows.$part"); then
        crlf=" (Windows ends its lines with CRLF)"
      else
        why+=" std$part differs;"
      fi
    fi
  done
  cmp -s "$work/linux.status" "$work/windows.status" ||
    why+=" exit status $(cat "$work/linux.status") on Linux, $(cat "$work/windows.status") under Wine;"
  local files
  files=$(diff -rq "$work/linux" "$work/windows" 2>&1) || why+=" files differ: ${files//$'\n'/; };"
  if ! verdict "$label" "$why" "$crlf" "$took" && [ -n "${ZEPHAL_WINE_SHOW:-}" ]; then
    diff "$work/linux.out" <(sed 's/\r$//' "$work/windows.out") | head -20
    diff "$work/linux.err" <(sed 's/\r$//' "$work/windows.err") | head -20
  fi
}

# ---------------------------------------------------------------------------
# zephal-check on game executables: the stand-in game as a fitting build, the
# same with a changed byte at each of the places the plug-in checks, cut
# short, and a text file.
if ! "$root/tools/run32" "$build/sim/zephal-sim" --write-game-exe "$work/in/game.exe"; then
  echo "wine-check: zephal-sim cannot write the game's executable" >&2
  exit 2
fi
# The plug-in beside them, so that both name it alike.
cp "$out/zephal.z9p" "$work/in/zephal.z9p"
compare "zephal-check: a fitting game executable" zephal-check game.exe --plugin zephal.z9p
# Each place's RVA and length as the check's table shows them; the executable
# has its code at RVA 0x1000, file offset 0x400 (host::game_exe_layout).
(cd "$work/in" && "$root/tools/run32" "$out/zephal-check" game.exe --plugin zephal.z9p) |
  awk '$NF == "fits" && $1 ~ /^zephal\./ { print $1, $2, (NF - 3) / 2 }' >"$work/places"
[ "$(wc -l <"$work/places")" -eq 7 ] || { echo "wine-check: zephal-check did not list the seven places" >&2; exit 2; }
cp "$work/in/game.exe" "$work/game.exe"
while read -r name rva len; do
  at=$((rva + len - 1 - 0x1000 + 0x400))
  cp "$work/game.exe" "$work/in/game.exe"
  old=$(od -An -tu1 -j "$at" -N1 "$work/game.exe" | tr -d ' ')
  printf "$(printf '\\%03o' $((old ^ 1)))" | dd of="$work/in/game.exe" bs=1 seek="$at" conv=notrunc status=none
  compare "zephal-check: a changed byte at $name" zephal-check game.exe --plugin zephal.z9p
done <"$work/places"
head -c $((0x112000)) "$work/game.exe" >"$work/in/game.exe"
compare "zephal-check: a game executable cut short" zephal-check game.exe --plugin zephal.z9p
printf 'hello\r\n' >"$work/in/game.exe"
compare "zephal-check: a text file" zephal-check game.exe --plugin zephal.z9p
rm -f "$work/in/game.exe" "$work/in/zephal.z9p"

# zephal-check --ini on settings files a player might make: values read by
# the platform's own GetPrivateProfileIntA, Windows' under Wine.
ini() { printf "$2" >"$work/in/zephal.ini" && compare "zephal-check --ini: $1" zephal-check --ini zephal.ini; }
cp "$out/zephal.ini" "$work/in/zephal.ini"
compare "zephal-check --ini: the shipped zephal.ini" zephal-check --ini zephal.ini
ini "a key twice" '[Zephal]\r\nKeyW=65\r\nMoveSpeed=20\r\nkeyw=87\r\n'
ini "a second [Zephal] section" '[Zephal]\r\nMoveSpeed=20\r\n[Other]\r\nBoost=40\r\n[Zephal]\r\nMoveSpeed=40\r\nBoost=30\r\n'
ini "spaces around =" '[Zephal]\r\n  MoveSpeed = 25  \r\nKeyW\t=\t83\r\n[ Zephal ]\r\nBoost =30\r\n'
# A UTF-8 mark right before a [section] header is where Wine parts from
# Windows: Wine 8 reads the file as UTF-8 and finds the section, Windows
# reads three ANSI bytes and no header, as the host does (the verdict is in
# docs/RELIABILITY.md). Here the mark stands before a comment, where both agree.
ini "a UTF-8 byte-order mark" '\357\273\277; my settings\r\n[Zephal]\r\nMoveSpeed=30\r\nKeyW=83\r\n'
ini "a UTF-8 byte-order mark before a key" '\357\273\277MoveSpeed=5\r\n[Zephal]\r\nKeyW=83\r\n'
printf '[Zephal]\r\nMoveSpeed=30\r\nKeyW=83\r\n' | iconv -f UTF-8 -t UTF-16 >"$work/in/zephal.ini"
compare "zephal-check --ini: UTF-16 with its byte-order mark" zephal-check --ini zephal.ini
ini "CR-only line ends" '[Zephal]\rMoveSpeed=30\rKeyW=83\r'
ini "LF-only line ends" '[Zephal]\nMoveSpeed=30\nKeyW=83\n'
long=$(printf '1%.0s' {1..300})
ini "overlong values" "[Zephal]\r\nMoveSpeed=$long\r\nKeyW=83${long//1/ }x\r\nBoost=$(printf 'x%.0s' {1..5000})\r\n"
rm -f "$work/in/zephal.ini"
compare "zephal-check --ini: a missing file" zephal-check --ini zephal.ini

# zephal-presets on the presets the demo saves (the plug-in's own file), with
# another section and a damaged preset added by hand.
mkdir -p "$work/game"
if ! "$root/tools/run32" "$build/sim/zephal-sim" "$root/sim/scenarios/demo" --quiet --clean \
  --game-dir "$work/game" --out "$work/sim" >/dev/null 2>"$work/sim.err"; then
  echo "wine-check: the demo did not run:" >&2
  cat "$work/sim.err" >&2
  exit 2
fi
{ printf '; my presets\r\n[Other]\r\nkeep=me\r\n'; cat "$work/game/tracks/alpine/freecam.ini"
  printf '[Pos7]\r\nused=1\r\nx=1.5\r\ncar=abc\r\n'; } >"$work/in/freecam.ini"
cp "$work/game/tracks/alpine/freecam.ini" "$work/in/demo.ini"
compare "zephal-presets list: the demo's presets" zephal-presets list demo.ini
compare "zephal-presets list: with a damaged preset" zephal-presets list freecam.ini
compare "zephal-presets export" zephal-presets export freecam.ini
(cd "$work/in" && "$root/tools/run32" "$out/zephal-presets" export demo.ini >presets.txt)
sed -i 's/^look = .*/look = 45.00 10.00 0.00/' "$work/in/presets.txt"
compare "zephal-presets import: an edited view" zephal-presets import presets.txt freecam.ini
compare "zephal-presets import: into a new file" zephal-presets import presets.txt new.ini
compare "zephal-presets copy: to a free slot" zephal-presets copy freecam.ini 1 9
compare "zephal-presets copy: over a used slot, refused" zephal-presets copy demo.ini 1 demo.ini 2
compare "zephal-presets copy: to another track, forced" zephal-presets copy demo.ini 1 freecam.ini 7 --force

# ---------------------------------------------------------------------------
# The simulator: zephal-sim.exe, which loads the DLL with Windows' own loader
# and leaves it Windows' own profile functions, VirtualAlloc and msvcrt,
# against zephal-sim, which runs the same DLL on the host's. Both play the
# scenario in the same game directory (so the plug-in is handed the same
# Windows path) and each result must be the same: the trace, the cars, the
# plug-in's log lines and every byte of the presets file it wrote.
#
# sim_compare LABEL SCENARIO GAME_DIR [ZEPHAL_INI]: ZEPHAL_INI, when given, is
# put in the game directory first (a scenario without setting lines reads it
# as it is).
sim_compare() {
  local label=$1 scenario=$2 game=$3 ini=${4:-} side why="" started took name
  name=${scenario##*/}
  wanted "$label" || return 0
  for side in linux windows; do
    rm -rf "${game:?}" "${work:?}/sim-$side" && mkdir -p "$game"
    [ -z "$ini" ] || cp "$ini" "$game/zephal.ini"
    if [ $side = linux ]; then
      "$root/tools/run32" "$build/sim/zephal-sim" "$scenario" --quiet --module out/zephal.z9p \
        --game-dir "$game" --out "$work/sim-$side" >"$work/$side.out" 2>"$work/$side.err" </dev/null
    else
      started=$(date +%s%N)
      wine "$out/zephal-sim.exe" "$scenario" --quiet --module out/zephal.z9p \
        --game-dir "$game" --out "$work/sim-$side" >"$work/$side.out" 2>"$work/$side.err" </dev/null
    fi
    echo $? >"$work/$side.status"
    mkdir -p "$work/sim-$side"
    find "$game/tracks" -name freecam.ini -exec cp {} "$work/sim-$side/freecam.ini" \; 2>/dev/null
    grep -a '  zephal: ' "$work/sim-$side/$name.log" >"$work/sim-$side/plugin.log" 2>/dev/null
  done
  took=$((($(date +%s%N) - started) / 1000000))
  cmp -s "$work/linux.status" "$work/windows.status" ||
    why+=" exit status $(cat "$work/linux.status") on Linux, $(cat "$work/windows.status") under Wine;"
  local part note=""
  for part in "$name.trace.csv" "$name.cars.csv" plugin.log freecam.ini; do
    if [ ! -e "$work/sim-linux/$part" ] && [ ! -e "$work/sim-windows/$part" ]; then continue; fi
    if cmp -s "$work/sim-linux/$part" "$work/sim-windows/$part"; then continue; fi
    if cmp -s <(sed 's/\r$//' "$work/sim-linux/$part") <(sed 's/\r$//' "$work/sim-windows/$part"); then
      note=" (line ends differ in $part)"
    else
      why+=" $part differs;"
      [ -z "${ZEPHAL_WINE_SHOW:-}" ] || diff "$work/sim-linux/$part" "$work/sim-windows/$part" | head -20
    fi
  done
  [ -s "$work/sim-linux/$name.trace.csv" ] || why+=" no trace on Linux;"
  verdict "$label" "$why" "$note" "$took" || [ -z "${ZEPHAL_WINE_SHOW:-}" ] || tail -5 "$work/windows.err"
}

if [ -f "$out/zephal-sim.exe" ]; then
  sim_compare "zephal-sim.exe: the demo" sim/scenarios/demo "$work/game"
  # A game directory so deep that the presets file's Windows path,
  # Z:<dir>\tracks\harbour\freecam.ini, is 259 characters: the plug-in's
  # path and msvcrt's _vsnprintf at the edge of their buffers.
  deep=$work/deep/
  while [ $((2 + ${#deep} + 27)) -lt 259 ]; do deep+=x; done
  deep=${deep:0:230}
  sim_compare "zephal-sim.exe: presets at a path of 259 characters" sim/scenarios/presets "$deep"
  printf '\357\273\277; written by hand\r\n[Zephal]\r\nMoveSpeed = 35\r\nKeyW=83\r\nkeyw=87\r\n[Other]\r\nBoost=9\r\n[Zephal]\r\nMoveSpeed=5\r\n  KeyS  =  87  \r\n' >"$work/players.ini"
  sim_compare "zephal-sim.exe: a zephal.ini written by hand" sim/scenarios/players-ini "$work/game" "$work/players.ini"
else
  echo "FAIL  zephal-sim.exe: $out/zephal-sim.exe is not built, so the simulator is not compared (bash tools/build.sh)"
  failed=$((failed + 1))
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
