#!/usr/bin/env bash
# Makes sure the Debian packages that ZEPHRAN builds with are installed.
# As root it installs what is missing with apt-get; otherwise it prints the
# one apt-get line to run and fails.
set -euo pipefail

packages=(
  cmake ninja-build g++
  pkg-config                     # Qt 6's CMake files look up xkbcommon with it
  qt6-base-dev                   # Qt 6 Widgets and Qt Test: the windows
  libxcb1-dev                    # the client window sets the X urgency hint through Qt's X connection
  libgtest-dev                   # the tests
  clang libclang-rt-14-dev       # fuzz targets (libFuzzer) and sanitizers
  libsystemd-dev                 # zephran-server tells systemd when it is ready (sd_notify)
  dpkg-dev file                  # the packages: dpkg-shlibdeps writes their Depends, file finds their programs
  lintian                        # the package check: Debian's checker of packages
  appstream                      # the package check: appstreamcli validates the metainfo
  desktop-file-utils             # the package check: desktop-file-validate checks the desktop entry
  man-db groff-base              # the package check: the man pages render without warnings
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "Missing packages. Run this once, then try again:" >&2
  echo "  sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
