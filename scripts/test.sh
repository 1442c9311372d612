#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs every test, then every fuzz target briefly. Exits non-zero when a test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=$ROOT/build/ci

bash scripts/deps.sh
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEL_SANITIZE=ON
fi
cmake --build "$BUILD"

# The library model's concurrency tests and the cache of what was read once more under
# ThreadSanitizer, in a build of their own. (The reading pool's tests are not among them: Qt is
# not instrumented, and its own thread pool for scaling pictures is reported as racing.)
TSAN=$ROOT/build/tsan
if [ ! -f "$TSAN/build.ninja" ]; then
  cmake -S "$ROOT" -B "$TSAN" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEL_TSAN=ON -DKORVEL_BENCH=OFF
fi
cmake --build "$TSAN" --target LibraryTests BookCacheTests

cd "$BUILD"
ctest --output-on-failure --timeout 600 -j2
cd "$TSAN"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure --timeout 600 -R '^(LibraryTests|BookCacheTests)$'

# The installed tree: layout, desktop entry, software-centre data, the package and the launcher.
cd "$ROOT" && bash scripts/check-install.sh "$BUILD"

# Every fuzz target for a short while on its seed corpus (clang, a build of its own).
cd "$ROOT" && bash scripts/fuzz.sh
