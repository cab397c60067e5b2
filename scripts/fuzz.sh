#!/usr/bin/env bash
# The libFuzzer targets: build them, seed them from the committed clips and
# run each for a bounded time.
#
#   scripts/fuzz.sh build                 packages, FFmpeg, clang build in $FUZZ_BUILD
#   scripts/fuzz.sh run [target...]       each target for $FUZZ_SECONDS (default 60)
#   scripts/fuzz.sh regress               replay tests/fuzz/regressions/<target>/*
#
# FUZZ_JOBS targets run at once (default 1); FUZZ_NICE is their niceness
# (default 10). The corpora grow in $FUZZ_BUILD/corpus/<target>/ and survive
# between runs; a finding is written to $FUZZ_BUILD/artifacts/<target>/ and
# makes the run fail. Copy it to tests/fuzz/regressions/<target>/ once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

FUZZ_BUILD=${FUZZ_BUILD:-build-fuzz}
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
FUZZ_JOBS=${FUZZ_JOBS:-1}
FUZZ_NICE=${FUZZ_NICE:-10}
TARGETS=(decoder_chain annexb file_source options transcode)

# Per-input limits: a hang or a runaway allocation is a finding too. They
# are what a thumbnailing service gives one upload; the targets apply the
# tool's own bounds (av_max_alloc, a pixel ceiling) so that an input over
# them is our fault, not the fuzzer's.
LIBFUZZER_FLAGS=(-timeout=10 -rss_limit_mb=512 -malloc_limit_mb=512 -max_len=65536
                 -print_final_stats=1)
# ASan's quarantine of freed memory (256 MB by default) counts in the RSS
# but is no part of what an upload costs; 64 MB still catches a use after
# free of the recent pictures.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=64}

build() {
  ensure_packages fuzz clang libclang-rt-14-dev
  local prefix
  prefix=$(ffmpeg_prefix_of "$FUZZ_BUILD")
  if [[ ! -f $FUZZ_BUILD/CMakeCache.txt ]]; then
    CC=clang CXX=clang++ cmake -S . -B "$FUZZ_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_PREFIX_PATH="$prefix" \
      -DVANTOR_FUZZ=ON -DVANTOR_BUILD_TESTS=OFF >/dev/null
  fi
  cmake --build "$FUZZ_BUILD" -j "${FUZZ_BUILD_JOBS:-2}" --target vantor_fuzz
}

# Seeds are made afresh each time (they are cheap); the corpus directory
# keeps whatever earlier runs found.
seed() {
  local seeds=$FUZZ_BUILD/seeds
  rm -rf "$seeds"
  mkdir -p "$seeds"/{decoder_chain,annexb,file_source,options,transcode}
  "$FUZZ_BUILD/bin/fuzz_make_seeds" tests/data "$seeds"
  cp tests/data/*.mp4 tests/data/*.mkv tests/data/*.h264 tests/decoders/data/*.mp4 "$seeds/file_source/"
  # Uploads of every container the tool reads (MP4, MOV, fragmented MP4,
  # Matroska, MPEG-TS, FLV, raw H.264 and HEVC), and the hostile ones.
  cp tests/data/*.mp4 tests/data/*.mkv tests/data/*.h264 \
    tests/data/corpus/*.{mp4,mov,mkv,ts,flv} tests/data/hostile/*.{h264,hevc,mp4} "$seeds/transcode/"
  # Option configurations: fields separated by NUL (see options_entry.hpp).
  printf 'jpg\0quality\00075' > "$seeds/options/quality"
  printf 'jpg\0quality\00050\0quality\00080' > "$seeds/options/twice"
  printf 'jpg\0Quality\0001' > "$seeds/options/capital"
  printf 'jpg\0quality\0004294967296' > "$seeds/options/overflow"
  printf 'jpg\0quality\000-1\0a\0007' > "$seeds/options/sign"
  printf 'jpg\0b\0002\0a\0003\0quality\000101' > "$seeds/options/wide"
  for target in "${TARGETS[@]}"; do
    mkdir -p "$FUZZ_BUILD/corpus/$target"
    if [[ -d tests/fuzz/regressions/$target ]]; then
      cp tests/fuzz/regressions/"$target"/* "$seeds/$target/" 2>/dev/null || true
    fi
  done
}

run_target() {
  local target=$1
  local artifacts=$FUZZ_BUILD/artifacts/$target/
  local log=$FUZZ_BUILD/logs/$target.log
  mkdir -p "$artifacts" "$(dirname "$log")"
  local start=$SECONDS status=0
  nice -n "$FUZZ_NICE" "$FUZZ_BUILD/bin/fuzz_$target" "${LIBFUZZER_FLAGS[@]}" \
    -max_total_time="$FUZZ_SECONDS" -artifact_prefix="$artifacts" \
    "$FUZZ_BUILD/corpus/$target" "$FUZZ_BUILD/seeds/$target" > "$log" 2>&1 || status=$?
  local runs
  runs=$(grep -a -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  if ((status == 0)); then
    echo "fuzz: $target: $runs executions in $((SECONDS - start)) s, no finding"
  else
    echo "fuzz: $target: FINDING after $((SECONDS - start)) s (exit $status); see $log and $artifacts" >&2
    grep -a -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error|.*fuzz finding|.*terminate called)' "$log" | head -5 >&2 || true
  fi
  return "$status"
}

run() {
  local targets=("$@")
  ((${#targets[@]})) || targets=("${TARGETS[@]}")
  build
  seed
  local failed=0 pids=() names=()
  for target in "${targets[@]}"; do
    if ((${#pids[@]} >= FUZZ_JOBS)); then
      wait "${pids[0]}" || failed=1
      pids=("${pids[@]:1}")
    fi
    run_target "$target" &
    pids+=("$!")
  done
  for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
  return "$failed"
}

# Each committed regression input once, through the sanitized binaries.
regress() {
  build
  local failed=0 count=0
  for target in "${TARGETS[@]}"; do
    local dir=tests/fuzz/regressions/$target
    [[ -d $dir ]] || continue
    local files=("$dir"/*)
    [[ -e ${files[0]} ]] || continue
    count=$((count + ${#files[@]}))
    "$FUZZ_BUILD/bin/fuzz_$target" "${LIBFUZZER_FLAGS[@]}" -runs=1 "${files[@]}" > "$FUZZ_BUILD/regress-$target.log" 2>&1 \
      || { echo "fuzz: $target: a regression input fails; see $FUZZ_BUILD/regress-$target.log" >&2; failed=1; }
  done
  echo "fuzz: replayed $count regression inputs"
  return "$failed"
}

case "${1:-run}" in
  build) build ;;
  run) shift || true; run "$@" ;;
  regress) regress ;;
  *) echo "usage: $0 build | run [target...] | regress" >&2; exit 2 ;;
esac
