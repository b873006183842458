#!/usr/bin/env bash
# The soak (soak/soak.cpp): the real plug-in in the host's game image through
# TICKS replay ticks of random play (default 200000), checking rewinds, seeks,
# presets and memory throughout:  bash tools/soak.sh [TICKS [SEED]]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ZEPHAL_BUILD:-build}
[ -x "$build/soak/soak" ] || bash tools/build.sh
cmake --build "$build" -j2 --target soak >/dev/null
exec tools/run32 "$build/soak/soak" "${1:-200000}" "${2:-1}"
