#!/usr/bin/env bash
# Renders ../digestbox.svg (the icon Linux installs as it is) into digestbox.ico (16, 32, 48 and 256 px; the 256 px
# image stored as PNG). The .ico is committed, so the build needs neither
# tool: run this only after changing the drawing.
# Debian packages: librsvg2-bin (rsvg-convert), icoutils (icotool).
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for size in 16 32 48 256; do
  rsvg-convert -w "$size" -h "$size" ../digestbox.svg -o "$work/$size.png"
done
icotool -c -o digestbox.ico "$work/16.png" "$work/32.png" "$work/48.png" \
  -r "$work/256.png"
