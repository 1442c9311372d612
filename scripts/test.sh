#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs every test. Exits non-zero when a test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=$ROOT/build/ci

bash scripts/deps.sh
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEL_SANITIZE=ON
fi
cmake --build "$BUILD"
cd "$BUILD"
ctest --output-on-failure --timeout 600 -j2
