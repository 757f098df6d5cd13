#!/usr/bin/env bash
# Builds the Linux program and runs it in a folder (the bundled samples by
# default). Hold SHIFT (MD5) or SHIFT+CTRL (SHA-1) while it starts to create
# digest files; otherwise it verifies them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
folder=$(cd "${1:-$here/samples}" && pwd)
"$here/scripts/install-deps.sh" run
cd "$here"
cmake --preset linux >/dev/null
cmake --build --preset linux -j"$(nproc)" >/dev/null
cd "$folder"
exec "$here/build/linux/digestbox"
