#!/usr/bin/env bash
# Builds the release a second time, from a copy of the tree in another
# folder, later, with SOURCE_DATE_EPOCH from the commit, and compares every
# artifact with dist/ byte for byte; diffoscope names any difference.
# Run scripts/release.sh first. Exits 0 only when all are the same.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f dist/SHA256SUMS ] || { echo "rebuild-check: run scripts/release.sh first" >&2; exit 1; }
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
other=$(mktemp -d /tmp/digestbox-rebuild-XXXXXX)
trap 'rm -rf "$other" "$other.log"' EXIT
# The tracked and new files only, without .git: nothing of this build's.
git ls-files -z --cached --others --exclude-standard |
  tar --null -T - -cf - | tar -xf - -C "$other"
started=$(date +%s)
if ! (cd "$other" && SOURCE_DATE_EPOCH=$epoch scripts/release.sh) \
  >"$other.log" 2>&1; then
  tail -n 40 "$other.log" >&2
  exit 1
fi
echo "second build, in $other: $(($(date +%s) - started)) s"
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
