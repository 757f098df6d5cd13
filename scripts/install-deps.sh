#!/usr/bin/env bash
# Installs what the program's build needs ("run": the program, its GTK
# dialog module and its Wayland key probe), what every suite needs ("test")
# or what building the Debian packages needs ("deb": debian/control's
# Build-Depends, no more), with apt-get, only when something is missing.
# A failed index update is reported and the install still tried: a mirror
# in sync can fail one index while every package needed stays installable.
# Only a failed install stops.
# "test" also fetches qemu-user where the kernel runs no 32-bit code (below).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

run_packages=(cmake make g++ pkg-config libssl-dev libx11-dev libgtk-3-dev
  libwayland-dev libxkbcommon-dev wayland-protocols)
test_packages=("${run_packages[@]}" libgtest-dev libgmock-dev googletest
  clang clang-format clang-tidy libclang-rt-14-dev valgrind mingw-w64 wine wine32 wine64 xvfb xdotool
  openbox
  locales python3 coreutils
  at-spi2-core python3-pyatspi dbus-daemon x11-utils
  fonts-ipafont-gothic imagemagick
  debhelper lintian python3-pefile icoutils librsvg2-bin zip unzip wixl msitools
  caja caja-actions desktop-file-utils
  mutter python3-gi
  build-essential dpkg-dev pkgconf
  pyflakes3 unicode-data osslsigncode hashdeep strace diffoscope-minimal linux-perf
  acl attr ntfs-3g)

mode=${1:-run}
case "$mode" in
  run) wanted=("${run_packages[@]}") ;;
  test) wanted=("${test_packages[@]}") ;;
  deb) wanted=() ;;
  *) echo "usage: $0 run|test|deb" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
    missing+=("$package")
done

# Where the kernel runs no 32-bit code, the 32-bit Windows program's suites
# run the 32-bit Wine loader through qemu-user, which tests/e2e/qemu32.py
# hands i386 programs to in a namespace of its own; where it does, one short
# step still runs that way, so the way stays open. Debian 12's qemu 7.2
# cannot run Wine (it takes MAP_FIXED_NOREPLACE as a hint), so qemu-i386
# comes from bookworm-backports, fetched with an apt configuration of its own
# (the system's sources stay as they are, nothing is installed) and checked
# against Debian's keyring like any index. It lands in build/tools/.
fetch_qemu() {
  local tools=$here/build/tools/qemu-user dir
  [ -x "$tools/usr/bin/qemu-i386" ] && return 0
  [ -x /usr/lib/wine/wine ] || return 0 # no 32-bit Wine to run
  local mirror
  mirror=$(apt-get indextargets --format '$(REPO_URI) $(CODENAME)' 2>/dev/null |
    awk '$2 == "bookworm" {print $1; exit}') || true
  mirror=${mirror:-http://deb.debian.org/debian/}
  dir=$(mktemp -d)
  mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg]" \
    "$mirror bookworm-backports main" >"$dir/sources.list"
  local own=(-o Dir::Etc::SourceList="$dir/sources.list"
    -o Dir::Etc::SourceParts=/dev/null -o Dir::State::Lists="$dir/lists"
    -o Dir::Cache="$dir/cache" -o APT::Sandbox::User="$(id -un)"
    -o Debug::NoLocking=1 -q)
  echo "install-deps: fetching qemu-user from bookworm-backports for the" \
    "32-bit Windows suites"
  if (cd "$dir" && apt-get "${own[@]}" update >/dev/null &&
    apt-get "${own[@]}" download qemu-user >/dev/null) &&
    mkdir -p "$tools" && dpkg -x "$dir"/qemu-user_*.deb "$dir/x" &&
    install -D -m 755 "$dir/x/usr/bin/qemu-i386" "$tools/usr/bin/qemu-i386"; then
    dpkg-deb -f "$dir"/qemu-user_*.deb Version >"$tools/VERSION"
    echo "install-deps: qemu-user $(cat "$tools/VERSION") in $tools"
  else
    echo "install-deps: qemu-user could not be fetched (above): where the" \
      "kernel runs no 32-bit code, the 32-bit Windows suites are skipped" >&2
  fi
  rm -rf "$dir"
}


if [ "$mode" = deb ]; then
  # The field as written, versions and alternatives included: apt-get
  # satisfy reads it as a package's own dependency line.
  control=$(cd "$(dirname "$0")/.." && pwd)/debian/control
  build_depends=$(awk '/^Build-Depends:/ { sub(/^Build-Depends:/, ""); field = 1; print; next }
    field && /^[ \t]/ { print; next } { field = 0 }' "$control" | tr -s '\n\t ' ' ')
  build_depends="build-essential, dpkg-dev, ${build_depends# }"
  command -v dpkg-checkbuilddeps >/dev/null &&
    dpkg-checkbuilddeps "$control" >/dev/null 2>&1 && exit 0
  missing=("$build_depends")
fi
if [ ${#missing[@]} -eq 0 ]; then
  [ "$mode" = test ] && fetch_qemu
  exit 0
fi

# sudo passes no environment by default: env sets it on the far side.
as_root=(env DEBIAN_FRONTEND=noninteractive)
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || {
    echo "install-deps: not root and no sudo: as root, run $0 ${1:-run}" >&2
    exit 1
  }
  echo "install-deps: installing needs root: using sudo, which may ask for your password"
  as_root=(sudo "${as_root[@]}")
fi
# Another package manager (unattended upgrades on a fresh desktop) may hold
# the lock: wait for it rather than fail.
apt=(apt-get -o DPkg::Lock::Timeout=300)

if printf '%s\n' "${missing[@]}" | grep -q '^wine32$'; then
  "${as_root[@]}" dpkg --add-architecture i386
fi
if [ "$mode" = deb ]; then
  echo "install-deps: installing what is missing of: $build_depends"
else
  echo "install-deps: ${#missing[@]} packages to install: ${missing[*]}"
fi
echo "install-deps: apt-get waits up to 5 minutes for another package manager" \
  "to finish; on a fresh system the whole install takes a few minutes"
started=$(date +%s)
updated=true
if ! "${as_root[@]}" "${apt[@]}" update -qq; then
  updated=false
  echo "install-deps: apt-get update failed (above); trying the install" \
    "with the package lists there are" >&2
fi
apt_install() { "${as_root[@]}" "${apt[@]}" install -y -qq "$@" >/dev/null; }
if [ "$mode" = deb ]; then
  "${as_root[@]}" "${apt[@]}" satisfy -y -qq "$build_depends" >/dev/null || {
    echo "install-deps: apt-get satisfy failed (above)" >&2
    exit 1
  }
  echo "install-deps: installed in $(($(date +%s) - started)) s"
  exit 0
fi
if ! apt_install "${missing[@]}"; then
  # wine32's i386 libraries must match the amd64 ones version for version,
  # so one stale i386 index makes it uninstallable: the rest still serves,
  # and the 32-bit Wine runs say they cannot run and count as skipped.
  others=()
  for package in "${missing[@]}"; do
    [ "$package" = wine32 ] || others+=("$package")
  done
  if [ ${#others[@]} -lt ${#missing[@]} ] && apt_install "${others[@]}"; then
    echo "install-deps: wine32 could not be installed (above): the 32-bit" \
      "Windows program's runs under Wine will be skipped" >&2
    echo "install-deps: installed in $(($(date +%s) - started)) s"
    exit 0
  fi
  echo "install-deps: apt-get install failed (above)" >&2
  $updated || echo "install-deps: the package lists could not be updated" \
    "either: try again later, when the mirror is in sync" >&2
  exit 1
fi
echo "install-deps: installed in $(($(date +%s) - started)) s"
[ "$mode" = test ] && fetch_qemu
exit 0
