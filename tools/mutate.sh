#!/usr/bin/env bash
# The mutation run: plants each fault of tools/mutants.txt alone in a copy of
# the sources, rebuilds incrementally and runs the test programs that exercise
# the plug-in. A fault the tests notice is killed; one they let through has
# survived, unless the list explains why it cannot change behaviour
# (equivalent). Entries whose text is no longer in the source are reported as
# stale, with the place in the list to update.
#
#   bash tools/mutate.sh                 every mutant (the first run builds ~10 min)
#   bash tools/mutate.sh --only rewind/  those whose file or id contains the text
#                                        (--only again: any of the texts)
#   bash tools/mutate.sh --check         only whether every entry still applies
#
# Everything happens under build-mutate/ (or $ZEPHAL_MUTATE_DIR): src/ is a copy
# of the work tree refreshed at every start, build/ its Linux build without the
# nested cross build, pe/ the DLL's build, made only for the mutants that
# survive the Linux tests, and out/ both artefacts. Your own tree and build are
# never touched. Exit status 0 only when every mutant that is not equivalent
# was killed and no entry is stale.
set -uo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
root=$PWD

list=tools/mutants.txt
only=()
check_only=0
while [ $# -gt 0 ]; do
  case $1 in
    --only) only+=("$2"); shift 2 ;;
    --list) list=$2; shift 2 ;;
    --check) check_only=1; shift ;;
    -h|--help) sed -n '2,/^set /p' "$0" | grep '^#' | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "mutate: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done

work=${ZEPHAL_MUTATE_DIR:-build-mutate}
mkdir -p "$work" && work=$(cd "$work" && pwd)
src=$work/src bld=$work/build pe=$work/pe out=$work/out
log=$work/mutate.log

# --- the list -----------------------------------------------------------------
# "== FILE" starts the entries of one source file; an entry is an id at the
# start of a line and indented "key: value" lines: from (the text replaced, the
# first occurrence after `after` when given, else the only one), to (its
# replacement; empty deletes), why, and for an equivalent mutant the reason.
# A "\n" in from, to or after stands for a line break.
ids=() files=() froms=() tos=() afters=() whys=() equivs=() where=()
parse_list() {
  local file="" line n=-1 lineno=0 key value field bad=0
  while IFS= read -r line || [ -n "$line" ]; do
    lineno=$((lineno + 1))
    case $line in
      '' | '#'*) continue ;;
      '== '*) file=${line#== }; continue ;;
      ' '* | $'\t'*)
        if [ $n -lt 0 ]; then echo "$list:$lineno: a field before any mutant id" >&2; bad=1; continue; fi
        field=${line#"${line%%[! $'\t']*}"}
        key=${field%%:*} value=${field#*:}
        value=${value#"${value%%[! ]*}"}
        value=${value//\\n/$'\n'}
        case $key in
          from) froms[n]=$value ;;
          to) tos[n]=$value ;;
          after) afters[n]=$value ;;
          why) whys[n]=$value ;;
          equivalent) equivs[n]=$value ;;
          *) echo "$list:$lineno: unknown field '$key'" >&2; bad=1 ;;
        esac ;;
      *)
        n=$((n + 1))
        ids[n]=$line files[n]=$file where[n]=$lineno
        froms[n]="" afters[n]="" whys[n]="" equivs[n]=""
        unset 'tos[n]'
        [ -n "$file" ] || { echo "$list:$lineno: mutant $line before any '== FILE' line" >&2; bad=1; } ;;
    esac
  done < "$list"
  for ((i = 0; i <= n; i++)); do
    [ -n "${froms[i]}" ] && [ -n "${tos[i]+set}" ] && [ -n "${whys[i]}" ] && continue
    echo "$list:${where[i]}: mutant ${ids[i]} needs from, to and why" >&2
    bad=1
  done
  return $bad
}
parse_list || exit 2

# Folder of a mutant: the first part of its file's path.
folder() { echo "${1%%/*}/"; }

# Plants mutant i into its file under dir; sets mutant_line. Returns 1 when
# the text is not there (stale), 2 when it is there more than once.
original=""
apply() {
  local i=$1 dir=$2 f=$2/${files[i]} content hay pre="" anchor=${afters[i]} from=${froms[i]} before newlines
  [ -f "$f" ] || return 1
  IFS= read -r -d '' content < "$f"
  original=$content
  hay=$content
  if [ -n "$anchor" ]; then
    [[ $hay == *"$anchor"* ]] || return 1
    [[ ${hay#*"$anchor"} == *"$anchor"* ]] && return 2
    pre=${hay%%"$anchor"*}$anchor
    hay=${hay#*"$anchor"}
  fi
  [[ $hay == *"$from"* ]] || return 1
  [ -z "$anchor" ] && [[ ${hay#*"$from"} == *"$from"* ]] && return 2
  before=$pre${hay%%"$from"*}
  newlines=${before//[!$'\n']/}
  mutant_line=$((${#newlines} + 1))
  printf '%s' "$before${tos[i]}${hay#*"$from"}" > "$f"
}

selected=()
for i in "${!ids[@]}"; do
  take=$((${#only[@]} == 0))
  for o in "${only[@]}"; do [[ ${files[i]} == *"$o"* || ${ids[i]} == *"$o"* ]] && take=1; done
  [ $take -eq 1 ] && selected+=("$i")
done
[ ${#selected[@]} -gt 0 ] || { echo "mutate: no mutant matches ${only[*]}" >&2; exit 2; }

if [ $check_only -eq 1 ]; then
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  stale=0
  for i in "${selected[@]}"; do
    mkdir -p "$tmp/$(dirname "${files[i]}")"
    [ -f "${files[i]}" ] && cp "${files[i]}" "$tmp/${files[i]}"
    apply "$i" "$tmp"
    case $? in
      1) echo "stale      $list:${where[i]} ${ids[i]}: '${froms[i]}' is not in ${files[i]}"; stale=$((stale + 1)) ;;
      2) echo "ambiguous  $list:${where[i]} ${ids[i]}: '${froms[i]}' occurs more than once in ${files[i]} (give 'after:')"; stale=$((stale + 1)) ;;
    esac
  done
  echo "mutate: ${#selected[@]} entries, $stale to update"
  [ $stale -eq 0 ]
  exit
fi

# --- the copy and its builds ------------------------------------------------------
bash tools/setup.sh
start=$(date +%s)
echo "mutate: run of $(date '+%F %T'), ${#selected[@]} mutants" > "$log"

# The copy follows the work tree file by file, so that only what changed
# since the last run is rebuilt.
mkdir -p "$src"
git ls-files -co --exclude-standard | sort > "$work/files"
while IFS= read -r f; do
  [ -f "$f" ] || continue
  cmp -s "$f" "$src/$f" && continue
  mkdir -p "$src/$(dirname "$f")"
  cp "$f" "$src/$f"
done < "$work/files"
(cd "$src" && find . -type f ! -path './out/*' | sed 's|^\./||' | sort) | comm -23 - "$work/files" |
  while IFS= read -r f; do rm -f "$src/$f"; done

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ ! -f "$bld/CMakeCache.txt" ]; then
  cmake -S "$src" -B "$bld" "${generator[@]}" -DZEPHAL_PE=OFF -DZEPHAL_OUT="$out" >> "$log" 2>&1 ||
    { echo "mutate: configuring $bld failed; see $log" >&2; exit 2; }
fi
runner=$(cat "$bld/runner")

# The test programs that exercise the plug-in, in the order tried for a
# mutant of each folder; sim_run (the simulator, a few seconds a scenario)
# always comes last. Tests that load the DLL have "Dll" in their names and
# run only in the DLL stage.
base_order="freecam_camera rewind_ring rewind_capture presets_file settings_read loader_module patching_walk patching_stubs artefacts_tables"
declare -A first=(
  [freecam/]="freecam_camera presets_file" [rewind/]="rewind_ring rewind_capture" [presets/]="presets_file"
  [base/]="settings_read loader_module rewind_ring" [plugin/]="loader_module rewind_ring freecam_camera"
  [z9sdk/]="patching_walk loader_module"
  [patches/]="patching_stubs loader_module")
declare -A group=(
  [freecam_camera]=freecam [rewind_ring]=rewind [rewind_capture]=rewind [presets_file]=presets [settings_read]=settings
  [loader_module]=loader [patching_walk]=patching [patching_stubs]=patching
  [artefacts_tables]=artefacts [sim_run]=sim)
dll_programs="freecam_camera artefacts_tables sim_run"
programs_for() {
  local seen=" " p
  for p in ${first[$1]:-} $base_order sim_run; do
    [[ $seen == *" $p "* ]] && continue
    seen+="$p "
    echo "$p"
  done
}

build() { cmake --build "$bld" -j2 --target "$@" >> "$log" 2>&1; }
build_pe() {
  if [ ! -f "$pe/CMakeCache.txt" ]; then
    cmake -S "$src" -B "$pe" "${generator[@]}" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DZEPHAL_OUT="$out" >> "$log" 2>&1 || return 1
  fi
  cmake --build "$pe" -j2 >> "$log" 2>&1
}

declare -A limit=()
# Runs one test program with a gtest filter; sets verdict ("" when it passed).
run_program() {
  local p=$1 filter=$2 dir=$bld/tests/${group[$1]} status output
  output=$(cd "$dir" && timeout "${limit[$p]:-300}" $runner "./$p" --gtest_filter="$filter" --gtest_fail_fast 2>&1)
  status=$?
  verdict=""
  [ $status -eq 0 ] && return 0
  if [ $status -eq 124 ]; then
    verdict="$p: no end within ${limit[$p]:-300} s"
  else
    local failed=$(grep -m1 -o '^\[  FAILED  \] [A-Za-z0-9_]*\.[A-Za-z0-9_]*' <<< "$output" | cut -c14-)
    verdict="$p: ${failed:-exit status $status}"
  fi
  { echo "--- $verdict"; tail -n 30 <<< "$output"; } >> "$log"
}

# Built and run once without any mutant: the tests must pass, and their times
# give each program its time limit.
echo "mutate: building the copy in $work (the first run takes about 10 minutes)..."
build $base_order sim_run || { echo "mutate: the unmutated copy does not build; see $log" >&2; exit 2; }
build_pe || { echo "mutate: the unmutated DLL does not build; see $log" >&2; exit 2; }
for p in $base_order sim_run; do
  t0=$(date +%s%N)
  run_program "$p" '*'
  [ -z "$verdict" ] || { echo "mutate: without any mutant $verdict; see $log" >&2; exit 2; }
  ms=$((($(date +%s%N) - t0) / 1000000))
  limit[$p]=$((ms * 5 / 1000 + 30))
done
echo "mutate: the tests pass without mutants; planting ${#selected[@]} one at a time"

# --- one mutant at a time -----------------------------------------------------------
current=-1
restore() {
  [ $current -ge 0 ] && printf '%s' "$original" > "$src/${files[current]}"
  current=-1
}
trap 'restore' EXIT
trap 'restore; echo; echo "mutate: interrupted; every file restored"; exit 130' INT TERM

declare -A killed=() survived=() equivalent=() stale=()
problems=()
# Mutants of one file run together: a restored file is rebuilt once.
order=$(for i in "${selected[@]}"; do printf '%s\t%s\n' "${files[i]}" "$i"; done | sort -s -t$'\t' -k1,1 | cut -f2)
k=0
for i in $order; do
  k=$((k + 1))
  d=$(folder "${files[i]}")
  tag=$(printf '[%3d/%d]' "$k" "${#selected[@]}")
  apply "$i" "$src"
  rc=$?
  if [ $rc -ne 0 ]; then
    [ $rc -eq 1 ] && what="its text is no longer in ${files[i]}" || what="its text occurs more than once (add 'after:')"
    printf '%s stale      %-28s %s: %s\n' "$tag" "${files[i]}" "${ids[i]}" "$what"
    stale[$d]=$((${stale[$d]:-0} + 1))
    problems+=("stale      $list:${where[i]} ${ids[i]}: $what")
    continue
  fi
  current=$i
  t0=$(date +%s)
  echo "=== ${ids[i]} (${files[i]}:$mutant_line)" >> "$log"
  verdict=""
  for p in $(programs_for "$d"); do
    if ! build "$p"; then verdict="does not build"; break; fi
    run_program "$p" '-*Dll*'
    [ -n "$verdict" ] && break
  done
  # The DLL stage, for what the Linux tests let through: the same tests
  # against zephal.z9p built from the mutated copy.
  if [ -z "$verdict" ] && [ -z "${equivs[i]}" ]; then
    if ! build_pe; then
      verdict="the DLL does not build"
    else
      for p in $dll_programs; do
        run_program "$p" '*Dll*'
        [ -n "$verdict" ] && break
      done
    fi
  fi
  restore
  place="${files[i]}:$mutant_line"
  secs=$(($(date +%s) - t0))
  if [ -n "$verdict" ]; then
    killed[$d]=$((${killed[$d]:-0} + 1))
    printf '%s killed     %-28s %s (%s, %d s)\n' "$tag" "$place" "${ids[i]}" "$verdict" "$secs"
    if [ -n "${equivs[i]}" ]; then
      problems+=("listed as equivalent but killed  $list:${where[i]} ${ids[i]} ($verdict)")
    fi
  elif [ -n "${equivs[i]}" ]; then
    equivalent[$d]=$((${equivalent[$d]:-0} + 1))
    printf '%s equivalent %-28s %s: %s\n' "$tag" "$place" "${ids[i]}" "${equivs[i]}"
  else
    survived[$d]=$((${survived[$d]:-0} + 1))
    printf '%s SURVIVED   %-28s %s: %s\n' "$tag" "$place" "${ids[i]}" "${whys[i]}"
    problems+=("survived   $list:${where[i]} ${ids[i]} ($place): ${whys[i]}")
  fi
done

# --- the summary ----------------------------------------------------------------------
secs=$(($(date +%s) - start))
echo
printf '%-10s %7s %9s %11s %6s\n' folder killed survived equivalent stale
tk=0 ts=0 te=0 tst=0
for d in plugin/ base/ z9sdk/ patches/ freecam/ rewind/ presets/ \
  $(for i in "${selected[@]}"; do folder "${files[i]}"; done | sort -u | grep -vxE 'plugin/|base/|z9sdk/|patches/|freecam/|rewind/|presets/'); do
  a=${killed[$d]:-0} b=${survived[$d]:-0} c=${equivalent[$d]:-0} e=${stale[$d]:-0}
  [ $((a + b + c + e)) -gt 0 ] || continue
  printf '%-10s %7d %9d %11d %6d\n' "$d" "$a" "$b" "$c" "$e"
  tk=$((tk + a)) ts=$((ts + b)) te=$((te + c)) tst=$((tst + e))
done
printf '%-10s %7d %9d %11d %6d\n' total "$tk" "$ts" "$te" "$tst"
printf 'run time %d min %02d s; details in %s\n' $((secs / 60)) $((secs % 60)) "$log"
if [ ${#problems[@]} -gt 0 ]; then
  echo
  echo "to act on:"
  printf '  %s\n' "${problems[@]}"
  exit 1
fi
