#!/usr/bin/env bash
# Checks how the plug-in's folders include each other:
#  - no plug-in file includes the Linux stand-in (host/) or the simulator
#    (sim/): the plug-in builds for Windows without them;
#  - the folders stand in one order, bottom first, and a file includes only
#    files of its own folder and of folders below it. The subsystems build on
#    the base and know nothing of the hook stubs; the hook handlers in plugin/
#    sit on top and call into the subsystems, so no call runs back up.
# Prints each fault with the file and line of its include, and exits 1 on any.
set -euo pipefail
cd "$(dirname "$0")/.."

# Bottom first: the C runtime and Win32 surface, the loader's interface, the
# game memory with settings and log, the three subsystems (presets use the free
# camera), the hook stubs with the patch list, and the entry with the handlers.
folders=(platform z9sdk base freecam rewind presets patches plugin)

files=()
for d in "${folders[@]}"; do
  [ -d "$d" ] || { echo "check-includes: folder $d/ is missing (run from the source tree)" >&2; exit 1; }
  for f in "$d"/*.h "$d"/*.cpp "$d"/*.S; do [ -e "$f" ] && files+=("$f"); done
done

# One line per include: the including file, its line and the file included.
grep -H -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "${files[@]}" |
  sed -E 's/^([^:]*):([0-9]+):[^"]*"([^"]*)".*/\1 \2 \3/' |
  awk -v folders="${folders[*]}" -v nfiles="${#files[@]}" '
    function folder(path) { sub(/\/.*/, "", path); return path }
    BEGIN {
      n = split(folders, list, " ")
      for (i = 1; i <= n; ++i) rank[list[i]] = i
      faults = 0
    }
    {
      file = $1; line = $2; inc = $3
      if (inc ~ /^(host|sim)\//) {
        printf "%s:%s: includes %s: plug-in code must not use the Linux stand-in or the simulator\n", file, line, inc
        ++faults
        next
      }
      to = folder(inc)
      if (!(to in rank)) next
      from = folder(file)
      if (rank[to] > rank[from]) {
        printf "%s:%s: includes %s: %s/ stands above %s/\n", file, line, inc, to, from
        ++faults
      }
    }
    END {
      if (faults) {
        order = list[1]
        for (i = 2; i <= n; ++i) order = order " < " list[i]
        print "check-includes: a folder may include only itself and the folders below it: " order "; move the call that goes up into the folder above (as plugin/ holds the hook handlers)"
        exit 1
      }
      printf "check-includes: %d files in %d folders, each including only its own folder and those below it, nothing from host/ or sim/\n", nfiles, n
    }'
