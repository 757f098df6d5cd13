#!/usr/bin/env bash
# Installs what the build needs ("run") or what every suite needs ("test"),
# with apt-get, only when something is missing.
set -euo pipefail

run_packages=(cmake make g++ pkg-config libssl-dev libx11-dev)
test_packages=("${run_packages[@]}" libgtest-dev libgmock-dev googletest
  clang clang-format clang-tidy libclang-rt-14-dev valgrind mingw-w64 wine wine32 wine64 xvfb xdotool
  locales python3 coreutils
  libgtk-3-dev at-spi2-core python3-pyatspi dbus-daemon x11-utils
  fonts-ipafont-gothic imagemagick
  debhelper lintian python3-pefile icoutils librsvg2-bin zip unzip wixl msitools
  caja caja-actions desktop-file-utils
  libwayland-dev libxkbcommon-dev wayland-protocols mutter python3-gi
  build-essential dpkg-dev pkgconf
  pyflakes3 unicode-data osslsigncode hashdeep strace diffoscope-minimal linux-perf)

case "${1:-run}" in
  run) wanted=("${run_packages[@]}") ;;
  test) wanted=("${test_packages[@]}") ;;
  *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
if printf '%s\n' "${missing[@]}" | grep -q '^wine32$'; then
  $sudo dpkg --add-architecture i386
fi
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
