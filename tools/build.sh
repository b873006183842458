#!/usr/bin/env bash
# Configures and builds everything: both builds of the plug-in (out/zephal.z9p,
# out/zephal.so), the stand-in host, the simulator, the tests and benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
build=${ZEPHAL_BUILD:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)"
