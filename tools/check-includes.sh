#!/usr/bin/env bash
# Checks how the plug-in's folders include each other:
#  - no plug-in file includes the Linux stand-in (host/) or the simulator
#    (sim/): the plug-in builds for Windows without them;
#  - no include circle runs between folders. A unit is a header with its
#    source (freecam/controller.h and .cpp); unit A uses unit B when a file of
#    A includes B's header. A circle that leaves a folder and comes back
#    (presets use the free camera, which calls back into presets) ties two
#    subsystems into one; within a folder, units may lean on each other.
# Prints each fault with the includes that make it, and exits 1 on any.
set -euo pipefail
cd "$(dirname "$0")/.."

folders=(plugin z9sdk patches freecam rewind presets platform)

files=()
for d in "${folders[@]}"; do
  [ -d "$d" ] || { echo "check-includes: folder $d/ is missing (run from the source tree)" >&2; exit 1; }
  for f in "$d"/*.h "$d"/*.cpp "$d"/*.S; do [ -e "$f" ] && files+=("$f"); done
done

# One line per include: the including file, its line and the file included.
grep -H -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "${files[@]}" |
  sed -E 's/^([^:]*):([0-9]+):[^"]*"([^"]*)".*/\1 \2 \3/' |
  awk -v folders="${folders[*]}" '
    function unit(path) { sub(/\.(h|cpp|S)$/, "", path); return path }
    function folder(path) { sub(/\/.*/, "", path); return path }
    BEGIN {
      n = split(folders, list, " ")
      for (i = 1; i <= n; ++i) ours[list[i]] = 1
      faults = 0
    }
    {
      file = $1; line = $2; inc = $3
      if (inc ~ /^(host|sim)\//) {
        printf "%s:%s: includes %s: plug-in code must not use the Linux stand-in or the simulator\n", file, line, inc
        ++faults
        next
      }
      if (!(folder(inc) in ours)) next
      a = unit(file); b = unit(inc)
      if (a == b) next
      units[a] = 1; units[b] = 1
      if (!((a, b) in edge)) {
        edge[a, b] = file ":" line " includes " inc
        succ[a] = succ[a] " " b
      }
    }
    # A shortest path of uses from s to t, as "s t ..." (empty: none), by
    # breadth-first search.
    function path(s, t,    queue, head, tail, seen, from, u, k, m, next_, p) {
      delete seen; delete from
      head = tail = 0; queue[tail++] = s; seen[s] = 1
      while (head < tail) {
        u = queue[head++]
        if (u == t) break
        m = split(succ[u], next_, " ")
        for (k = 1; k <= m; ++k)
          if (!(next_[k] in seen)) { seen[next_[k]] = 1; from[next_[k]] = u; queue[tail++] = next_[k] }
      }
      if (!(t in seen)) return ""
      p = t
      for (u = t; u != s; u = from[u]) p = from[u] " " p
      return p
    }
    END {
      # Every circle between folders has a use that crosses folders; it is a
      # circle when the used unit leads back. Each circle is shown once, from
      # the first such use found.
      for (key in edge) {
        split(key, ab, SUBSEP); a = ab[1]; b = ab[2]
        if (folder(a) == folder(b) || ((a, b) in shown)) continue
        p = path(b, a)
        if (p == "") continue
        m = split(a " " p, steps, " ")
        printf "include circle between folders: %s\n", a " " p
        for (k = 1; k < m; ++k) {
          printf "  %s\n", edge[steps[k], steps[k + 1]]
          shown[steps[k], steps[k + 1]] = 1
        }
        ++faults
      }
      if (faults) {
        print "check-includes: break each circle by moving the call that closes it into a unit above both (as plugin/ holds the hook handlers), or by letting only one side know the other"
        exit 1
      }
      c = 0; for (u in units) ++c
      printf "check-includes: %d units in %d folders, no include circle between folders, nothing from host/ or sim/\n", c, n
    }'
