#!/usr/bin/env bash
# Builds every release artifact from the tree into dist/, which it empties
# first, so it can run again:
#   dist/digestbox-<version>-win32.zip  digestbox.exe (the win32-release
#                                       build), README.txt, LICENSE.txt
#   dist/digestbox-<version>-win32.msi  the same program, installed per user
#                                       with a folder-background verb (wixl)
#   dist/digestbox_<version>-1_<arch>.deb      the program, its manual page
#   dist/digestbox-gtk_<version>-1_<arch>.deb  the GTK dialog module
#   dist/SHA256SUMS                     every artifact's SHA-256, as
#                                       sha256sum writes them, after signing
# The same commit gives the same bytes wherever and whenever it is built
# (scripts/rebuild-check.sh checks it): times come from SOURCE_DATE_EPOCH,
# or else the commit's time; without either it stops.
# The version is the one in CMakeLists.txt's project(); debian/changelog
# must name the same. With DIGESTBOX_SIGN_P12 and DIGESTBOX_SIGN_PASS set
# (and optionally DIGESTBOX_SIGN_TIMESTAMP), the program is signed before the
# zip and the installer take it, and the installer itself after (sign.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(digestbox VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "release: no version in CMakeLists.txt" >&2; exit 1; }
jobs=$(nproc)
# Every time in every artifact, the Debian packages' included: never the
# clock, which would make every build of one commit a different release.
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || true)}
if [ -z "$epoch" ]; then
  echo "release: neither SOURCE_DATE_EPOCH nor git history (.git) to take" \
    "the commit's time from: set SOURCE_DATE_EPOCH to it (seconds since" \
    "1970: git log -1 --format=%ct in a clone)" >&2
  exit 1
fi
export SOURCE_DATE_EPOCH=$epoch
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

debian_version=$(dpkg-parsechangelog -S Version)
if [ "${debian_version%-*}" != "$version" ]; then
  echo "release: debian/changelog has $debian_version, the project $version" >&2
  exit 1
fi

rm -rf dist build/win32-release
mkdir dist

# Windows: text for Notepad is UTF-8 with a byte-order mark and CR LF.
cmake --preset win32-release >/dev/null
cmake --build --preset win32-release -j"$jobs" >/dev/null
signing=false
if [ -n "${DIGESTBOX_SIGN_P12:-}" ] && [ -n "${DIGESTBOX_SIGN_PASS:-}" ]; then
  signing=true
  scripts/sign.sh build/win32-release/digestbox.exe
else
  echo "release: DIGESTBOX_SIGN_P12 and DIGESTBOX_SIGN_PASS are not set:" \
    "the Windows program and installer are not signed" >&2
fi
mkdir "$stage/win32"
cp build/win32-release/digestbox.exe "$stage/win32/"
{ printf '\xEF\xBB\xBF'; sed -e "s/@VERSION@/$version/" -e 's/$/\r/' res/windows/readme.txt; } \
  >"$stage/win32/README.txt"
sed -e 's/$/\r/' LICENSE >"$stage/win32/LICENSE.txt"
# The same commit gives the same bytes: fixed times, fixed modes (the zip
# stores them, and the builder's umask made them), fixed order, no extras.
touch -d "@$epoch" "$stage/win32"/*
chmod 0755 "$stage/win32/digestbox.exe"
chmod 0644 "$stage/win32/README.txt" "$stage/win32/LICENSE.txt"
(cd "$stage/win32" && TZ=UTC zip -X -q "$OLDPWD/dist/digestbox-$version-win32.zip" \
  digestbox.exe README.txt LICENSE.txt)
scripts/msi.sh x86 "$version" build/win32-release/digestbox.exe \
  "dist/digestbox-$version-win32.msi"
if $signing; then
  scripts/sign.sh "dist/digestbox-$version-win32.msi"
fi

# Debian: the one script that also builds them alone, without the above.
scripts/debian-packages.sh dist >/dev/null

# Last, after any signing: what a user checks a download against.
(cd dist && sha256sum -- * >"$stage/SHA256SUMS") && mv "$stage/SHA256SUMS" dist/

ls -l dist
