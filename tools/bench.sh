#!/usr/bin/env bash
# Builds the benchmarks, runs them and writes bench/RESULTS.md: the machine,
# the compilers, the date and the load, one line per speed target, and every
# figure with its median and spread. The file is written here only; do not
# edit it by hand. ZEPHAL_BENCH_ROUNDS sets the rounds (default 61 where the
# kernel runs i386 programs itself, which takes under a minute and steadies
# the medians; 15 under qemu-i386, a few minutes).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
build=${ZEPHAL_BUILD:-build}
out=bench/RESULTS.md
programs=(rewind_bench hooks_bench sim_frame_bench)

echo "bench: building ${programs[*]}" >&2
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target "${programs[@]}" >/dev/null

# Whether this kernel runs i386 programs itself, or they go through qemu.
runner=$(cat "$build/runner" 2>/dev/null || true)
rounds=${ZEPHAL_BENCH_ROUNDS:-$([ -z "$runner" ] && echo 61 || echo 15)}
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT

load() { cut -d' ' -f1-3 /proc/loadavg; }
busy() {  # the processes using a CPU now, by name
  ps -eo pcpu=,comm= | awk '$1 >= 5 { n[$2]++ } END { for (c in n) { printf "%s%s x%d", s, c, n[c]; s = ", " } }'
}
load_start=$(load)
busy_start=$(busy)
started=$(date -u '+%Y-%m-%d %H:%M UTC')

step=0
for p in "${programs[@]}"; do
  step=$((step + 1))
  echo "bench: ($step/${#programs[@]}) $p, $rounds rounds" >&2
  ZEPHAL_BUILD="$build" tools/run32 "$build/bench/$p" "$rounds" >"$probe/$p.md"
done
load_end=$(load)
busy_end=$(busy)

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')
mem=$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)
{
  echo "# Benchmark results"
  echo
  echo "Written by \`bash tools/bench.sh\` on $started; not edited by hand. $rounds rounds;"
  echo "the runs compared in a table alternate within each round, and each ratio is the"
  echo "median of the per-round ratios, with their range as its spread."
  echo
  echo "## Machine"
  echo
  echo "- processor: $cpu, $(nproc) cores, $mem"
  echo "- kernel: $(uname -sr)"
  if [ -n "$runner" ]; then
    echo "- i386 programs: run under $($runner --version | head -1) (user-mode emulation):" \
      "$(bash tools/i386.sh --why)"
  else
    echo "- i386 programs: run natively"
  fi
  echo "- compilers: $(g++ --version | head -1) with -m32 -O2 (zephal.so, host, benchmarks);" \
    "$(i686-w64-mingw32-g++ --version 2>/dev/null | head -1 || echo 'no mingw-w64') (zephal.z9p)"
  echo "- commit: $(git rev-parse --short HEAD)$(git diff --quiet HEAD -- . ':!bench/RESULTS.md' || echo ' with local changes')"
  echo "- load (1, 5, 15 min averages): $load_start at the start, $load_end at the end;" \
    "processes busy at the start: ${busy_start:-none}; at the end: ${busy_end:-none}"
  if [ -n "$runner" ]; then
    echo
    echo "## What emulation does to these numbers"
    echo
    echo "Every figure here is of code translated by qemu-i386, not of the processor running it."
    echo "qemu carries out SSE2's non-temporal store (MOVNTDQ) as an ordinary store of the host,"
    echo "so what streaming saves on hardware (reading each destination line before writing it,"
    echo "evicting the game's data) is not saved here, and the capture ratios compare glibc's i386"
    echo "memcpy with our SSE2 loop as qemu translates them. Absolute times are several times those"
    echo "of native code. Targets are judged on these numbers all the same."
  fi
  echo
  echo "## Targets"
  echo
  for name in capture-8 capture-16 capture-8-nofx capture-first-lap game-read-after-capture rewind \
    seek-scan-4096 plugin-frame-share; do
    grep -h "^target $name: " "$probe"/*.md || echo "target $name: not measured (limit see bench/) missed"
  done
  for p in "${programs[@]}"; do grep -v '^target ' "$probe/$p.md"; done
} >"$out"

grep '^target ' "$out"
echo "bench: wrote $out" >&2
