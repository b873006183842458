#!/usr/bin/env bash
# The main job: builds everything and plays the simulator's demo replay, in
# which the plug-in is loaded into the stand-in game and every feature is
# used once. Prints the plug-in's log and a summary, and says where the
# trace and the picture of the run are. Extra arguments go to zephal-sim
# (for instance --module out/zephal.z9p to play the DLL itself).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
build=${ZEPHAL_BUILD:-build}
ZEPHAL_BUILD="$build" tools/run32 "$build/sim/zephal-sim" sim/scenarios/demo --clean "$@"
echo
echo "The picture: out/sim/demo.png (or demo.svg in a web browser); out/sim/README.txt says what each output is."
