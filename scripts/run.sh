#!/usr/bin/env bash
# Installs what is missing, builds Korvel, creates the local library folder (the installer's
# job on a user's machine) and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=$ROOT/build/release

bash scripts/deps.sh
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEL_TESTS=OFF -DKORVEL_BENCH=OFF
fi
cmake --build "$BUILD"

data=$("$BUILD/tools/korvel-folders" | sed -n 's/^data //p')
mkdir -p "${data}Storages"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: run this from a desktop session (or under xvfb-run)." >&2
  exit 1
fi
exec "$BUILD/bin/Korvel"
