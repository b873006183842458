#!/usr/bin/env bash
# Shows that this tree's plug-in behaves as an earlier build of it did: the
# simulator plays the demo with the earlier zephal.so and zephal.z9p and with
# this tree's, each with the Win32 call log on, and the two logs of each must
# be identical; the demo's outputs with this tree's zephal.so must be byte for
# byte those the earlier build left. Prints one line per comparison and a
# closing "N passed, N failed".
#
#   bash tools/same-behaviour.sh BASELINE_OUT_DIR
#
# BASELINE_OUT_DIR holds the earlier zephal.so and zephal.z9p; its demo's
# outputs are in sim/ and sim-game/ inside it or beside it. Folder names of
# the two trees in the logs (the game directory, the module's path) are
# taken out before comparing. Expects a build (bash tools/build.sh).
set -uo pipefail
cd "$(dirname "$0")/.."
base=${1:?usage: tools/same-behaviour.sh BASELINE_OUT_DIR}
base=$(cd "$base" && pwd)
build=${ZEPHAL_BUILD:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0

# Paths of either tree, on Linux or as Windows names them, made alike.
plain() {
  sed -E -e 's#Z:(\\[^\\ ]+)*\\out\\sim-game#GAME#g' -e 's#(/[^ /]+)*/out/sim-game#GAME#g' \
    -e 's#(/[^ /]+)*/(zephal\.(so|z9p))#\2#g' "$1"
}
same() {  # what, file, file
  if cmp -s <(plain "$2") <(plain "$3"); then
    echo "same: $1"
    passed=$((passed + 1))
  else
    echo "DIFFERENT: $1 ($2 vs $3)"
    failed=$((failed + 1))
  fi
}
play() {  # module, call log[, output folder]
  tools/run32 "$build/sim/zephal-sim" sim/scenarios/demo --clean --quiet --module "$1" --win32-log "$2" \
    ${3:+--out "$3"} >"$work/out.txt" 2>&1 || { echo "zephal-sim failed with $1:"; tail -5 "$work/out.txt"; }
}

outputs=$base/sim games=$base/sim-game
[ -d "$outputs" ] || outputs=$base/../sim games=$base/../sim-game
for kind in z9p so; do  # this tree's zephal.so last: its outputs stay in out/
  play "$base/zephal.$kind" "$work/before.$kind.log" "$work/before.$kind"
  if [ $kind = so ]; then play "$PWD/out/zephal.$kind" "$work/after.$kind.log"
  else play "$PWD/out/zephal.$kind" "$work/after.$kind.log" "$work/after.$kind"; fi
  same "Win32 calls of the demo, zephal.$kind ($(wc -l <"$work/after.$kind.log") calls)" \
    "$work/before.$kind.log" "$work/after.$kind.log"
  # The loader's report: the module's extent and every byte patched into the game.
  same "loader and plug-in lines of the demo, zephal.$kind" "$work/before.$kind/demo.log" \
    "$( [ $kind = so ] && echo out/sim || echo "$work/after.$kind")/demo.log"
done
for f in demo.trace.csv demo.cars.csv demo.log demo.svg; do same "out/sim/$f" "$outputs/$f" out/sim/$f; done
same "out/sim-game/tracks/alpine/freecam.ini" "$games/tracks/alpine/freecam.ini" out/sim-game/tracks/alpine/freecam.ini
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
