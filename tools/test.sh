#!/usr/bin/env bash
# Builds everything and runs the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
echo "testing…"
ctest --test-dir "${ZEPHAL_BUILD:-build}" --output-on-failure
