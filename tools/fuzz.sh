#!/usr/bin/env bash
# Runs the fuzz drivers of fuzz/ under libFuzzer (clang -m32, ASan + UBSan,
# LeakSanitizer where the kernel runs i386 programs itself, through qemu-i386
# where it does not), each for the given time:
#   bash tools/fuzz.sh [DRIVER|all] [SECONDS]     (default: all, 60 s each)
# Drivers: ini, settings, scenario, pe_loader, hex_match. Each starts from its
# seeds in fuzz/corpus/DRIVER; what it finds new goes to build-fuzz/corpus-DRIVER
# (copy inputs worth keeping into fuzz/corpus), and a crash input to
# fuzz/crashes/DRIVER, where the suite's corpus replay runs it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh fuzz
which=${1:-all}
seconds=${2:-60}
out=build-fuzz
mkdir -p "$out"

# Each driver is built from its own sources with the sanitizers (the build's
# libraries are gcc's, uninstrumented). The host's Win32 layer with its
# profile functions brings the game image it lays out along.
profile="ini/ini_file.cpp host/win32_profile.cpp host/win32.cpp host/win32_calls.cpp host/call_log.cpp
  host/common.cpp host/world.cpp host/game_image.cpp host/game_memory_linux.cpp host/game_code.cpp
  host/cpu.cpp host/cpu.S tests/kit/files.cpp"
declare -A sources=(
  [ini]="$profile"
  [settings]="$profile base/settings.cpp presets/preset_file.cpp base/game_memory.cpp platform/crt.cpp"
  [scenario]="sim/scenario.cpp"
  [pe_loader]="host/pe_module.cpp host/pe_check.cpp host/read_bounded.cpp host/module_imports.cpp $profile"
  [hex_match]="z9sdk/apply.cpp"
)
drivers=(ini settings scenario pe_loader hex_match)
[ "$which" = all ] || drivers=("$which")

runner=$(bash tools/i386.sh)

for d in "${drivers[@]}"; do
  [ -n "${sources[$d]:-}" ] || { echo "fuzz: no driver called $d (try: ${!sources[*]})" >&2; exit 2; }
  echo "fuzz: building $d"
  # The scenario parser reports through C++ exceptions, and under qemu-i386
  # clang's ASan misjudges the main stack's bounds at every throw (a false
  # stack-buffer-overflow in its own sigaltstack call): there that driver
  # runs with UBSan alone, and its corpus replay runs in the ASan build of
  # tools/sanitize.sh.
  sanitizers=fuzzer,address,undefined
  [ "$d" = scenario ] && [ -n "$runner" ] && sanitizers=fuzzer,undefined
  # shellcheck disable=SC2086
  clang++ -m32 -std=c++20 -g -O1 -I. -msse2 -mfpmath=sse -no-pie -fno-pie \
    -fsanitize=$sanitizers -fno-sanitize-recover=undefined \
    "fuzz/$d.cpp" ${sources[$d]} -ldl -o "$out/$d"
  mkdir -p "$out/corpus-$d" "fuzz/crashes/$d"
  # The seeds go by name: a 32-bit program under qemu-i386 cannot list
  # folders of a file system with 64-bit directory offsets.
  find "fuzz/corpus/$d" "$out/corpus-$d" -type f | paste -sd, | tr -d "\n" > "$out/seeds-$d"
  echo "fuzz: running $d for $seconds s from $(tr ',' '\n' < "$out/seeds-$d" | grep -c .) inputs"
  # LeakSanitizer needs ptrace, which qemu-i386 lacks; ASan's own signal
  # stack is left out for the same emulator's sake.
  asan=detect_leaks=1
  [ -z "$runner" ] || asan=detect_leaks=0:use_sigaltstack=0
  ASAN_OPTIONS=$asan:quarantine_size_mb=16 $runner "$out/$d" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1536 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="fuzz/crashes/$d/" \
    -seed_inputs=@"$out/seeds-$d" "$out/corpus-$d" 2>&1 | tee "$out/$d.log" | grep -E "^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::|ERROR|SUMMARY|==[0-9]+==" || true
  if ls "fuzz/crashes/$d" | grep -q .; then echo "fuzz: $d: inputs in fuzz/crashes/$d"; fi
done
