#!/usr/bin/env bash
# Builds the fuzz targets in build/fuzz (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for FUZZ_SECONDS (20 unless set) on a copy of its
# seed corpus in tests/fuzz/corpus. FUZZ_TARGETS (names separated by blanks) runs only those.
# Exits non-zero when any target reports a crash, a sanitizer error, a timeout or running out
# of memory; the input that did it is kept in build/fuzz/findings.
#
#   bash scripts/fuzz.sh                                   # every target, 20 s each
#   FUZZ_SECONDS=1800 FUZZ_TARGETS=FuzzEpubZip bash scripts/fuzz.sh
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=$ROOT/build/fuzz
SECONDS_EACH=${FUZZ_SECONDS:-20}

bash scripts/deps.sh
if [ ! -f "$BUILD/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKORVEL_FUZZ=ON -DKORVEL_TESTS=ON -DKORVEL_BENCH=OFF
fi
# Only the targets: the rest of this build carries the fuzzer's instrumentation and is not used.
cmake --build "$BUILD" --target FuzzTargets

# The longest input each target gets: large where whole documents and their hangs live.
declare -A MAX_LEN=(
  [FuzzEpub]=131072 [FuzzEpubZip]=131072 [FuzzCbz]=131072 [FuzzCbzZip]=131072
  [FuzzFb2]=262144 [FuzzFb2Zip]=262144 [FuzzMobi]=131072 [FuzzPdf]=131072 [FuzzText]=262144
  [FuzzHtml]=262144 [FuzzHtmlzZip]=131072 [FuzzDocxZip]=131072
  [FuzzRtf]=131072 [FuzzUmd]=131072
  [FuzzVerDesc]=262144 [FuzzPicture]=65536 [FuzzSkin]=65536 [FuzzIni]=65536
  [FuzzFirmware]=65536 [FuzzMountTable]=16384 [FuzzVersionRecord]=16384 [FuzzDiskInfo]=4096
  [FuzzComic]=131072 [FuzzDjvu]=65536 [FuzzChm]=65536
)
# Targets that pack their input into an archive share a dictionary of the scheme's words.
declare -A DICT=(
  [FuzzEpubZip]=archive.dict [FuzzCbzZip]=archive.dict [FuzzFb2Zip]=archive.dict
  [FuzzHtml]=html.dict [FuzzHtmlzZip]=html.dict [FuzzDocxZip]=docx.dict
  [FuzzSkin]=archive.dict [FuzzFirmware]=archive.dict
)
TARGETS=${FUZZ_TARGETS:-${!MAX_LEN[*]}}

# Everything a run writes goes to a folder of its own, removed at the end.
WORK=$(mktemp -d "${TMPDIR:-/tmp}/korvel-fuzz.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/home" "$WORK/runtime" "$WORK/tmp" "$WORK/config" "$WORK/cache" "$WORK/data"
chmod 700 "$WORK/runtime"
export QT_QPA_PLATFORM=offscreen HOME="$WORK/home" XDG_RUNTIME_DIR="$WORK/runtime" \
  XDG_CONFIG_HOME="$WORK/config" XDG_CACHE_HOME="$WORK/cache" XDG_DATA_HOME="$WORK/data" \
  TMPDIR="$WORK/tmp"
# Qt's process-wide objects are never freed, so leak reports would be noise.
export ASAN_OPTIONS=detect_leaks=0:new_delete_type_mismatch=0:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

FINDINGS=$BUILD/findings
failed=()
for target in $(printf '%s\n' $TARGETS | sort); do
  if [ -z "${MAX_LEN[$target]:-}" ]; then
    echo "No such fuzz target: $target" >&2
    exit 2
  fi
  corpus=$WORK/corpus/$target
  mkdir -p "$corpus" "$WORK/artifacts/$target"
  cp "$ROOT/tests/fuzz/corpus/$target/"* "$corpus/"
  args=(-max_total_time="$SECONDS_EACH" -max_len="${MAX_LEN[$target]}" -timeout=10
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$WORK/artifacts/$target/")
  if [ -n "${DICT[$target]:-}" ]; then args+=(-dict="$ROOT/tests/fuzz/${DICT[$target]}"); fi
  echo "== $target (${SECONDS_EACH} s)"
  log=$WORK/$target.log
  # The outer limit catches a hang while the seeds load, which the per-input timeout misses.
  if (cd "$WORK/tmp" && timeout --kill-after=10 $((SECONDS_EACH + 120)) \
      "$BUILD/fuzz/$target" "${args[@]}" "$corpus") >"$log" 2>&1; then
    grep -E '^(Done|stat::number_of_executed_units)' "$log" | tail -1 || true
  else
    failed+=("$target")
    mkdir -p "$FINDINGS/$target"
    cp "$WORK/artifacts/$target/"* "$FINDINGS/$target/" 2>/dev/null || true
    echo "-- $target FAILED; the end of its log:"
    tail -n 40 "$log"
    echo "-- inputs kept in $FINDINGS/$target:"
    ls "$FINDINGS/$target" 2>/dev/null || true
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "Fuzz targets that failed: ${failed[*]}" >&2
  exit 1
fi
echo "Every fuzz target ran ${SECONDS_EACH} s without a finding."
