#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run.
# Safe to run again: it asks apt only for what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libboost-regex-dev libcurl4-openssl-dev libssl-dev libglib2.0-dev libx11-dev
  libsqlite3-dev libcpp-httplib-dev libcli11-dev libspdlog-dev
  libpcre2-dev  # the reference of the order scan benchmark
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  qt6-base-dev qt6-webengine-dev qt6-charts-dev
  qt6-translations-l10n  # Qt's own dialogs and buttons in Chinese
  xvfb xauth x11-utils xdg-utils imagemagick fonts-wqy-microhei
  mdbtools
  clang-format git
  # the .deb, its icons and its checks (tests/packaging)
  dpkg-dev lintian desktop-file-utils appstream librsvg2-bin
  dbus-daemon  # a private session bus for the notification tests
  openssl python3 python3-aiosmtpd  # the alert tests' local HTTPS and mail servers
  # the seller's Windows IM client under Wine: Wine, and the cross compilers
  # of the Win32 helper and the Win32 IM client imitation
  wine wine64 g++-mingw-w64-x86-64 g++-mingw-w64-i686
  # the fuzz targets (scripts/fuzz.sh)
  clang-14 libfuzzer-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
# Node.js runs the second reader of the card export file in the tests.
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  missing+=(nodejs npm)
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
