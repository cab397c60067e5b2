#!/usr/bin/env bash
# Robustness checks, as CI runs them; each step sets itself up on a fresh
# machine (packages, FFmpeg, its own build tree).
#
#   scripts/ci-robustness.sh [all]   smoke, then tsan, then valgrind
#   scripts/ci-robustness.sh smoke   each fuzz target for $SMOKE_SECONDS (15), and
#                                    every committed regression input
#   scripts/ci-robustness.sh tsan    the concurrency test under ThreadSanitizer
#   scripts/ci-robustness.sh valgrind  decoder, component and tool tests under
#                                    valgrind --leak-check=full
#
# Measured on this 2-core machine, fresh build trees included: smoke about
# 3 min (the clang build, with the tool's library and the plug-in modules
# for the transcode target, about 2 min; then five targets at 15 s each,
# two at a time, and the regression inputs), tsan about 25 s, valgrind
# about 1.5 min (the test programs take 10 s, 12 s and 37 s under memcheck).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

TSAN_BUILD=${TSAN_BUILD:-build-tsan}
VALGRIND_BUILD=${VALGRIND_BUILD:-build-valgrind}
JOBS=${JOBS:-2}

# Configures a GCC tree once; FFmpeg comes from the project's set-up.
configure() {
  local dir=$1
  shift
  local prefix
  prefix=$(ffmpeg_prefix_of "$dir")
  if [[ ! -f $dir/CMakeCache.txt ]]; then
    cmake -S . -B "$dir" -DCMAKE_PREFIX_PATH="$prefix" "$@" >/dev/null
  fi
}

step_smoke() {
  ensure_packages ci-robustness clang libclang-rt-14-dev
  FUZZ_SECONDS=${SMOKE_SECONDS:-15} FUZZ_JOBS=${FUZZ_JOBS:-2} scripts/fuzz.sh run
  scripts/fuzz.sh regress
}

# ThreadSanitizer needs the old mmap layout on kernels with wide ASLR.
no_aslr() {
  if setarch "$(uname -m)" -R true 2>/dev/null; then
    setarch "$(uname -m)" -R "$@"
  else
    "$@"
  fi
}

step_tsan() {
  configure "$TSAN_BUILD" -DVANTOR_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$TSAN_BUILD" -j "$JOBS" --target test_concurrency test_tool
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
    VANTOR_TEST_DATA_DIR="$PWD/tests/data" no_aslr "$TSAN_BUILD/bin/test_concurrency"
  # The tool's own threads: decoding ahead, parts decoded at once, Ctrl-C.
  # Its processes inherit the options; a race makes one exit with 66.
  TSAN_OPTIONS="halt_on_error=1 exitcode=66 ${TSAN_OPTIONS:-}" \
    VANTOR_TEST_DATA_DIR="$PWD/tests/data" no_aslr "$TSAN_BUILD/bin/test_tool" \
    --gtest_filter='tool_threads.*:tool_hygiene.*:tool_choice.*'
}

step_valgrind() {
  ensure_packages ci-robustness valgrind
  configure "$VALGRIND_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$VALGRIND_BUILD" -j "$JOBS" \
    --target test_decoders test_components test_tool vantor-transcode vantor_plugins
  local logs=$VALGRIND_BUILD/valgrind-logs
  rm -rf "$logs"
  mkdir -p "$logs"
  local valgrind=(valgrind --leak-check=full --error-exitcode=1 --num-callers=30
                  --suppressions="$PWD/tests/robustness/valgrind.supp")
  local failed=0
  for test in test_decoders test_components test_tool; do
    local start=$SECONDS
    # The tool tests start vantor-transcode; it runs under valgrind too,
    # each process with its own log.
    if VANTOR_TEST_DATA_DIR="$PWD/tests/data" \
       VANTOR_TEST_EMULATOR="${valgrind[*]} --log-file=$PWD/$logs/tool-%p.log" \
       "${valgrind[@]}" --log-file="$logs/$test.log" "$VALGRIND_BUILD/bin/$test" \
       > "$logs/$test.out" 2>&1; then
      echo "valgrind: $test clean in $((SECONDS - start)) s"
    else
      echo "valgrind: $test FAILED (see $logs/$test.log and $logs/$test.out)" >&2
      grep -E "ERROR SUMMARY|definitely|indirectly|FAILED" "$logs/$test.log" "$logs/$test.out" | head >&2 || true
      failed=1
    fi
  done
  # A child's errors show only in its log: its exit code is the test's to judge.
  local children=0
  for log in "$logs"/tool-*.log; do
    [[ -e $log ]] || continue
    children=$((children + 1))
    if ! grep -q "ERROR SUMMARY: 0 errors" "$log"; then
      echo "valgrind: vantor-transcode: errors in $log" >&2
      grep -E "ERROR SUMMARY|definitely|indirectly" "$log" | head >&2 || true
      failed=1
    fi
  done
  echo "valgrind: $children runs of vantor-transcode checked"
  return "$failed"
}

timed() {
  local start=$SECONDS
  "$@"
  echo "ci-robustness: $1 took $((SECONDS - start)) s"
}

case "${1:-all}" in
  smoke) timed step_smoke ;;
  tsan) timed step_tsan ;;
  valgrind) timed step_valgrind ;;
  all) timed step_smoke; timed step_tsan; timed step_valgrind ;;
  *) echo "usage: $0 [all | smoke | tsan | valgrind]" >&2; exit 2 ;;
esac
