#!/usr/bin/env bash
# Installs the Debian packages Korvel needs to build, run and test, when any is missing.
# Quick when everything is there: it only asks dpkg.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev libgl-dev
  libcurl4-openssl-dev libzip-dev zip libpoppler-cpp-dev libsystemd-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-noto-cjk fonts-liberation locales shared-mime-info xvfb xauth dbus
  python3-dbusmock python3-pyftpdlib libcpp-httplib-dev
  clang libclang-rt-14-dev zlib1g-dev
  desktop-file-utils appstream lintian
  libarchive-dev libdjvulibre-dev libchm-dev libpng-dev libjpeg62-turbo-dev
)

# The test suite runs in these locales as well as in C.
LOCALES=(en_US.UTF-8 zh_CN.UTF-8)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# `locale -a` spells them in lower case without the dash ("zh_CN.utf8").
generate=()
for l in "${LOCALES[@]}"; do
  short="${l%%.*}.utf8"
  locale -a 2>/dev/null | grep -qx "$short" || generate+=("$l")
done
if [ ${#generate[@]} -gt 0 ]; then
  echo "Generating locales: ${generate[*]}"
  for l in "${generate[@]}"; do
    $SUDO sed -i "s/^# *\(${l} UTF-8\)/\1/" /etc/locale.gen
  done
  $SUDO locale-gen
fi
