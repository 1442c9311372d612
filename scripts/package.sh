#!/usr/bin/env bash
# Builds Korvel for release and makes its Debian package in the build folder:
#   bash scripts/package.sh                 # build/release/korvel_<version>_<arch>.deb
#   sudo apt install ./build/release/korvel_*.deb
# A build folder given as the argument is packed as it is configured (CI packs its test build).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/release}

bash scripts/deps.sh
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVEL_TESTS=OFF -DKORVEL_BENCH=OFF
fi
cmake --build "$BUILD"
rm -f "$BUILD"/korvel_*.deb
(cd "$BUILD" && cpack -G DEB >/dev/null)
ls "$BUILD"/korvel_*.deb
