#!/usr/bin/env bash
# Installs what the Linux program's build needs, builds the program alone
# (the "run" preset: no suites) into build/run/ and runs it in a folder (the
# bundled samples by default), where it verifies the digest files.
# To create digest files, hold SHIFT (MD5) or SHIFT+CTRL (SHA-1) when
# starting build/run/digestbox in the folder, until its first box shows:
# the keys count only at the moment the program starts, not during the build.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
folder=$(cd "${1:-$here/samples}" && pwd)
program=$here/build/run/digestbox
"$here/scripts/install-deps.sh" run
cd "$here"
echo "run.sh: building the program into build/run/ (about a minute on two cores)"
started=$(date +%s)
cmake --preset run >/dev/null
cmake --build --preset run -j"$(nproc)" >/dev/null
echo "run.sh: built in $(($(date +%s) - started)) s: $program"
echo "run.sh: now verifying the digest files of $folder"
echo "run.sh: to create digest files instead, hold SHIFT (MD5) or SHIFT+CTRL" \
  "(SHA-1) while starting the program in the folder, until its question shows:"
printf '          cd %q && %q\n' "$folder" "$program"
cd "$folder"
status=0
"$program" || status=$?
echo "run.sh: to install it (the program in /usr/bin, its manual, the file" \
  "managers' entries, the GTK dialogs), build the Debian packages with" \
  "$here/scripts/debian-packages.sh: it prints the apt install command"
exit $status
