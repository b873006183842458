#!/usr/bin/env bash
# Builds the host, the simulator, the tests and the plug-in sources they link
# with AddressSanitizer and UndefinedBehaviorSanitizer (-m32, in build-san,
# with its own out/ there) and runs the whole suite under them. Any report
# fails the run: each is written to build-san/sanitizer-reports and listed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
build=${ZEPHAL_SAN_BUILD:-build-san}
start=$(date +%s)
cmake -S . -B "$build" -DZEPHAL_SANITIZE=ON -DZEPHAL_OUT="$PWD/$build/out" >/dev/null
# LeakSanitizer stops the process with ptrace, which qemu-i386 does not
# offer: at exit a program would wait for it forever. That holds for the
# programs the build itself runs too (zephal-check writes out/zephal.ini).
# So leaks are looked for only where the kernel runs our programs itself
# (configure wrote no runner); under qemu the soak's resident-size check
# stands in.
leaks=1
[ -z "$(cat "$build/runner" 2>/dev/null)" ] || leaks=0
echo "sanitize: LeakSanitizer $([ $leaks -eq 1 ] && echo on || echo "off (programs run under qemu-i386)")"
export ASAN_OPTIONS="detect_leaks=$leaks:${ASAN_OPTIONS:-}"
cmake --build "$build" -j"$(nproc)"
built=$(date +%s)

reports="$PWD/$build/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
# A small quarantine: freed blocks held back for use-after-free checks would
# otherwise take a 32-bit address space that the tests' rings need.
export ASAN_OPTIONS="halt_on_error=1:quarantine_size_mb=16:log_path=$reports/asan:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan:${UBSAN_OPTIONS:-}"
status=0
ZEPHAL_BUILD="$build" ctest --test-dir "$build" --output-on-failure "$@" || status=$?
if [ -n "$(ls -A "$reports")" ]; then
  echo "sanitize: reports in $reports:"
  for f in "$reports"/*; do echo "--- $f"; head -40 "$f"; done
  status=1
fi
echo "sanitize: build $((built - start)) s, tests $(($(date +%s) - built)) s, $(ls "$reports" | wc -l) sanitizer reports"
exit $status
