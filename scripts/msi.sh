#!/usr/bin/env bash
# Builds the per-user installer with wixl: scripts/msi.sh ARCH VERSION EXE OUT
# (ARCH x86 or x64; EXE relative to the repository, as wixl takes its
# sources). wixl leaves the Upgrade row of older versions without its
# inclusive maximum, so the row is set right afterwards: a rebuilt package of
# the installed version then replaces it instead of making a second entry.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=$1 version=$2 exe=$3 out=$4
wixl -a "$arch" -D Version="$version" -D Exe="$exe" \
  -D Icon=res/windows/digestbox.ico -o "$out" res/windows/digestbox.wxs
table=$(mktemp -d)
trap 'rm -rf "$table"' EXIT
msiinfo export "$out" Upgrade >"$table/Upgrade.idt"
# 768: msidbUpgradeAttributesVersionMinInclusive | ...VersionMaxInclusive.
sed -i 's/\t256\t\tOLDERFOUND/\t768\t\tOLDERFOUND/' "$table/Upgrade.idt"
grep -q $'\t768\t\tOLDERFOUND' "$table/Upgrade.idt"
msibuild "$out" -i "$table/Upgrade.idt"
