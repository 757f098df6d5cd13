#!/usr/bin/env bash
# Builds the release a second time and compares every artifact with dist/
# byte for byte; diffoscope names any difference. The second build differs
# from the first in what differs between builders: another folder, later,
# another umask (077, or 022 after a first build under 077; Debian desktops
# have 002) and, when this runs as root, another user (nobody), from a copy
# of the tree without .git, with SOURCE_DATE_EPOCH from the commit.
# Run scripts/release.sh first. Exits 0 only when all are the same.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f dist/SHA256SUMS ] || { echo "rebuild-check: run scripts/release.sh first" >&2; exit 1; }
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
other=$(mktemp -d /tmp/digestbox-rebuild-XXXXXX)
home=$(mktemp -d /tmp/digestbox-rebuild-home-XXXXXX)
trap 'rm -rf "$other" "$other.log" "$home"' EXIT
second_umask=077
[ "$(umask)" = 0077 ] && second_umask=022
as_builder=()
builder=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
  chown nobody: "$other" "$home"
  as_builder=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  builder=nobody
fi
# The tracked and new files only, unpacked by the builder under its umask,
# as its own clone would be: nothing of this build's.
(umask "$second_umask" && git ls-files -z --cached --others --exclude-standard |
  tar --null -T - -cf - | "${as_builder[@]}" tar -xf - -C "$other")
started=$(date +%s)
if ! (cd "$other" && umask "$second_umask" &&
  "${as_builder[@]}" env HOME="$home" SOURCE_DATE_EPOCH="$epoch" scripts/release.sh) \
  >"$other.log" 2>&1; then
  tail -n 40 "$other.log" >&2
  exit 1
fi
echo "second build, in $other as $builder under umask $second_umask:" \
  "$(($(date +%s) - started)) s"
status=0
if ! diff <(cd dist && ls) <(cd "$other/dist" && ls); then
  echo "rebuild-check: the artifacts are not the same files" >&2
  status=1
fi
for file in dist/*; do
  name=${file#dist/}
  [ -f "$other/dist/$name" ] || continue
  if cmp -s "$file" "$other/dist/$name"; then
    echo "same: $name"
  else
    echo "DIFFERS: $name"
    diffoscope --text - "$file" "$other/dist/$name" | head -n 60 || true
    status=1
  fi
done
exit $status
