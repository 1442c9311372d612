#!/usr/bin/env bash
# Installs the Debian packages Korvel needs to build, run and test, when any is missing.
# Quick when everything is there: it only asks dpkg.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev libgl-dev
  libcurl4-openssl-dev libzip-dev zip libpoppler-cpp-dev libsystemd-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-noto-cjk xvfb xauth dbus
  python3-dbusmock python3-pyftpdlib libcpp-httplib-dev
  clang libclang-rt-14-dev zlib1g-dev
  desktop-file-utils appstream lintian
  libarchive-dev libdjvulibre-dev libchm-dev libpng-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
