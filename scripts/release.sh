#!/usr/bin/env bash
# Builds every release artifact from the tree into dist/, which it empties
# first, so it can run again:
#   dist/digestbox-<version>-win32.zip  digestbox.exe (the win32-release
#                                       build), README.txt, LICENSE.txt
# The version is the one in CMakeLists.txt's project().
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(digestbox VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "release: no version in CMakeLists.txt" >&2; exit 1; }
jobs=$(nproc)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

rm -rf dist build/win32-release
mkdir dist

# Windows: text for Notepad is UTF-8 with a byte-order mark and CR LF.
cmake --preset win32-release >/dev/null
cmake --build --preset win32-release -j"$jobs" >/dev/null
mkdir "$stage/win32"
cp build/win32-release/digestbox.exe "$stage/win32/"
{ printf '\xEF\xBB\xBF'; sed -e "s/@VERSION@/$version/" -e 's/$/\r/' res/windows/readme.txt; } \
  >"$stage/win32/README.txt"
sed -e 's/$/\r/' LICENSE >"$stage/win32/LICENSE.txt"
# The same commit gives the same bytes: fixed times, fixed order, no extras.
epoch=$(git log -1 --format=%ct 2>/dev/null || date +%s)
touch -d "@$epoch" "$stage/win32"/*
(cd "$stage/win32" && TZ=UTC zip -X -q "$OLDPWD/dist/digestbox-$version-win32.zip" \
  digestbox.exe README.txt LICENSE.txt)

ls -l dist
