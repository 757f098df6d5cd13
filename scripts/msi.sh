#!/usr/bin/env bash
# Builds the per-user installer with wixl: scripts/msi.sh ARCH VERSION EXE OUT
# (ARCH x86 or x64; EXE relative to the repository, as wixl takes its
# sources). wixl leaves the Upgrade row of older versions without its
# inclusive maximum, so the row is set right afterwards: a rebuilt package of
# the installed version then replaces it instead of making a second entry.
#
# The same inputs give the same bytes: the product code is a name-based UUID
# over the upgrade code and the version, the package code one over the
# package's inputs, and the summary times and the packed file's time are the
# commit's (SOURCE_DATE_EPOCH where it is set), as the zip takes them.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=$1 version=$2 exe=$3 out=$4
wxs=res/windows/digestbox.wxs icon=res/windows/digestbox.ico
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
upgrade=$(sed -n 's/.*UpgradeCode="\([0-9a-f-]*\)".*/\1/p' "$wxs")
inputs=$(cat "$exe" "$icon" "$wxs" | sha256sum | cut -d' ' -f1)
uuid() { python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' "$upgrade" "$1"; }
product=$(uuid "product $version $arch")
package=$(uuid "package $version $arch $inputs")
touch -d "@$epoch" "$exe"
wixl -a "$arch" -D Version="$version" -D ProductCode="$product" -D Exe="$exe" \
  -D Icon="$icon" -o "$out" "$wxs"
table=$(mktemp -d)
trap 'rm -rf "$table"' EXIT
msiinfo export "$out" Upgrade >"$table/Upgrade.idt"
# 768: msidbUpgradeAttributesVersionMinInclusive | ...VersionMaxInclusive.
sed -i 's/\t256\t\tOLDERFOUND/\t768\t\tOLDERFOUND/' "$table/Upgrade.idt"
grep -q $'\t768\t\tOLDERFOUND' "$table/Upgrade.idt"
msibuild "$out" -i "$table/Upgrade.idt"
# The package code (9) and the times it was made and saved (12, 13).
stamp=$(TZ=UTC date -d "@$epoch" '+%Y/%m/%d %H:%M:%S')
msiinfo export "$out" _SummaryInformation |
  sed -e "s|^9\t.*|9\t{$package}|" \
    -e "s|^12\t.*|12\t$stamp|" -e "s|^13\t.*|13\t$stamp|" \
    >"$table/_SummaryInformation.idt"
msibuild "$out" -i "$table/_SummaryInformation.idt"
