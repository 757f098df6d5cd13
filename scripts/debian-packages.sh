#!/usr/bin/env bash
# Builds the two Debian packages from the tree into a folder (dist/ unless
# named), replacing any built there before, and says how to install them:
#   digestbox_<version>-1_<arch>.deb      the program, its manual page and
#                                         the file managers' menu entries
#   digestbox-gtk_<version>-1_<arch>.deb  the GTK dialogs, the Wayland keys
# First it installs what is missing of debian/control's Build-Depends (with
# sudo when not root): no Wine, no mingw-w64. scripts/release.sh builds its
# Debian packages with this, so the same commit gives the same bytes from
# either: times come from SOURCE_DATE_EPOCH, or else the commit's time.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-dist}
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || true)}
if [ -z "$epoch" ]; then
  echo "debian-packages: neither SOURCE_DATE_EPOCH nor git history (.git) to" \
    "take the commit's time from: set SOURCE_DATE_EPOCH to it (seconds since" \
    "1970: git log -1 --format=%ct in a clone)" >&2
  exit 1
fi
export SOURCE_DATE_EPOCH=$epoch
scripts/install-deps.sh deb
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# Built from a copy of the tracked and new files only, so that none of the
# developer's build folders gets in.
mkdir "$stage/digestbox"
{ git ls-files -z --cached --others --exclude-standard 2>/dev/null ||
  find . -path ./build -prune -o -path ./dist -prune -o -path ./.git -prune \
    -o -type f -print0; } |
  tar --null -T - -cf - | tar -xf - -C "$stage/digestbox"
echo "debian-packages: building (a few minutes on two cores)"
(cd "$stage/digestbox" && dpkg-buildpackage -us -uc -b >"$stage/build.log" 2>&1) || {
  tail -n 40 "$stage/build.log" >&2
  exit 1
}
mkdir -p "$out"
rm -f "$out"/digestbox_*.deb "$out"/digestbox-gtk_*.deb
cp "$stage"/digestbox_*.deb "$stage"/digestbox-gtk_*.deb "$out/"
debs=()
for deb in "$out"/digestbox_*.deb "$out"/digestbox-gtk_*.deb; do
  debs+=("$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")")
done
echo "debian-packages: built into $out/; to install them (the program in" \
  "/usr/bin, its manual, the file managers' entries, the GTK dialogs):"
printf '  sudo apt install'
printf ' %q' "${debs[@]}"
printf '\n'
