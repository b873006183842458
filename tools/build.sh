#!/usr/bin/env bash
# Configures and builds everything: both builds of the plug-in (out/zephal.z9p,
# out/zephal.so), the stand-in host, the simulator, the tests and benchmarks.
# Prints one line per stage; everything the tools say goes to build.log in the
# build folder, whose last 40 lines are shown when a stage fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ZEPHAL_BUILD:-build}
mkdir -p "$build"
log="$build/build.log"
: > "$log"

# Runs a command with its output in the log; on failure shows the log's tail
# and stops with the command's status.
quietly() {
  local status=0
  "$@" >>"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    {
      echo "failed: $* (exit status $status); the last 40 lines of $log:"
      tail -n 40 "$log"
    } >&2
    exit "$status"
  fi
}

echo "setting up…"
quietly bash tools/setup.sh
if [ -f "$build/CMakeCache.txt" ]; then
  echo "building…"
else
  echo "building (first run: about 2 minutes)…"
fi
quietly cmake -S . -B "$build"
quietly cmake --build "$build" -j"$(nproc)"
