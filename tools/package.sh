#!/usr/bin/env bash
# Builds the release package for players: out/zephal-<version>.zip, holding a
# folder zephal-<version>/ with the plug-in (zephal.z9p), the two tools as
# Windows programs, the sample zephal.ini, the player's guide, CHANGES,
# LICENSE and SHA256SUMS. The version is the plug-in's own (base/version.h).
#
#   bash tools/package.sh [--no-build] [--out DIR]
#
# --no-build packages what out/ holds already; --out puts the archive in DIR.
# The archive is written beside its final name and renamed into place, so an
# interrupted run never leaves a half archive under that name.
set -euo pipefail
cd "$(dirname "$0")/.."

build=1
dest=out
while [ $# -gt 0 ]; do
  case "$1" in
    --no-build) build=0 ;;
    --out) [ $# -ge 2 ] || { echo "package: --out needs a folder" >&2; exit 2; }; dest=$2; shift ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "package: unknown option $1 (--no-build, --out DIR)" >&2; exit 2 ;;
  esac
  shift
done

[ "$build" = 1 ] && bash tools/build.sh
for tool in zip sha256sum; do
  command -v "$tool" >/dev/null || { echo "package: $tool is missing (run tools/setup.sh)" >&2; exit 1; }
done

version=$(sed -n 's/^#define ZEPHAL_VERSION "\([^"]*\)"$/\1/p' base/version.h)
[ -n "$version" ] || { echo "package: no version in base/version.h" >&2; exit 1; }

# Source in the build's artefact folder (out/, or ZEPHAL_OUT where a build
# was told another one, as the sanitizer run is) or the tree; name in the archive.
art=${ZEPHAL_OUT:-out}
files=(
  "$art/zephal.z9p:zephal.z9p"
  "$art/zephal-check.exe:zephal-check.exe"
  "$art/zephal-presets.exe:zephal-presets.exe"
  "$art/zephal.ini:zephal.ini"
  "docs/PLAYING.md:PLAYING.md"
  "CHANGES:CHANGES.txt"
  "LICENSE:LICENSE.txt"
)
for f in "${files[@]}"; do
  [ -f "${f%%:*}" ] || { echo "package: ${f%%:*} is missing: build first (bash tools/build.sh)" >&2; exit 1; }
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
name=zephal-$version
mkdir "$stage/$name"
for f in "${files[@]}"; do cp "${f%%:*}" "$stage/$name/${f#*:}"; done
(cd "$stage/$name" && sha256sum -- * > SHA256SUMS)

# The same inputs give the same archive: fixed times, no extra attributes.
find "$stage/$name" -exec touch -h -d '2000-01-01 00:00:00 UTC' {} +
mkdir -p "$dest"
archive=$(cd "$dest" && pwd)/$name.zip
rm -f "$archive.new"
(cd "$stage" && TZ=UTC zip -q -X -r "$archive.new" "$name")
mv -f "$archive.new" "$archive"

echo "package: $archive"
(cd "$stage/$name" && ls -l --time-style=+ -- * | awk '{printf "  %9s  %s\n", $5, $NF}')
