#!/usr/bin/env bash
# Builds the fuzz targets (clang's libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer) into their own build folder and runs each one for the
# given number of seconds, starting from its seed corpus in fuzz/corpus/<target>/
# with the tokens of fuzz/dictionaries/<target>.dict.
#
#   bash scripts/fuzz.sh [seconds per target, default 60] [target ...]
#
# Prints the executions of every target. A crash, a sanitizer report, an input that
# takes longer than FUZZ_TIMEOUT seconds or more than 2 GB is a finding: its input is
# kept in <build>/fuzz-findings/<target>/, the log in <build>/fuzz-logs/, and the
# script ends with status 1. Inputs that found new paths are kept in
# <build>/fuzz-corpus/<target>/ for the next run; the committed seeds are not changed.
#
# Environment: BUILD_DIR (default build-fuzz), FUZZ_JOBS (targets run side by side,
# default 1), FUZZ_MAX_LEN (largest input in bytes, default 65536), FUZZ_TIMEOUT
# (seconds one input may take, default 10).
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_PER_TARGET=${1:-60}
if [ $# -gt 0 ]; then shift; fi
BUILD_DIR=${BUILD_DIR:-build-fuzz}
JOBS=${FUZZ_JOBS:-1}
MAX_LEN=${FUZZ_MAX_LEN:-65536}
TIMEOUT=${FUZZ_TIMEOUT:-10}

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$BUILD_DIR" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON -DVELMORA_BUILD_TESTS=OFF \
  ${launcher[@]+"${launcher[@]}"} >/dev/null
cmake --build "$BUILD_DIR" --target velmora_fuzzers -j"$(nproc)"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for program in "$BUILD_DIR"/fuzz/*_fuzz; do
    [ -x "$program" ] || continue
    name=$(basename "$program")
    targets+=("${name%_fuzz}")
  done
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz.sh: no fuzz targets were built" >&2
  exit 1
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$(cd "$(dirname "$0")/.." && pwd)/fuzz/leaks.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
if [ -z "${ASAN_SYMBOLIZER_PATH:-}" ]; then
  for symbolizer in llvm-symbolizer llvm-symbolizer-14; do
    if command -v "$symbolizer" >/dev/null 2>&1; then
      export ASAN_SYMBOLIZER_PATH=$(command -v "$symbolizer")
      break
    fi
  done
fi

logs="$BUILD_DIR/fuzz-logs"
mkdir -p "$logs"

# The media target starts from small files of the common formats, made here with the
# ffmpeg tool (media is never committed), kept with the corpus it grows.
media_seeds="$BUILD_DIR/fuzz-corpus/media_length"
if command -v ffmpeg >/dev/null 2>&1 && [ ! -e "$media_seeds/.made" ]; then
  mkdir -p "$media_seeds"
  for seed in "mp3:-c:a libmp3lame" "flac:-c:a flac" "m4a:-c:a aac" "opus:-c:a libopus" "ogg:-c:a libvorbis" \
              "wma:-c:a wmav2" "wav:-c:a pcm_s16le" "mka:-c:a ac3"; do
    ffmpeg -v error -y -f lavfi -i sine=f=440:r=8000:d=0.3 ${seed#*:} "$media_seeds/seed.${seed%%:*}" || true
  done
  touch "$media_seeds/.made"
fi
# The track copy reads the same files after one byte that chooses its Start and End.
copy_seeds="$BUILD_DIR/fuzz-corpus/track_copy"
if [ -e "$media_seeds/.made" ] && [ ! -e "$copy_seeds/.made" ]; then
  mkdir -p "$copy_seeds"
  for seed in "$media_seeds"/seed.*; do
    [ -f "$seed" ] || continue
    { printf '\005'; cat "$seed"; } >"$copy_seeds/$(basename "$seed")"
  done
  touch "$copy_seeds/.made"
fi

# LeakSanitizer needs to stop the process's threads; where the machine does not let
# it (some containers), leaks are left out rather than reported as findings.
probe_input=$(mktemp)
if "$BUILD_DIR/fuzz/${targets[0]}_fuzz" -runs=1 "$probe_input" >"$logs/leak-probe.log" 2>&1; then :; fi
rm -f "$probe_input"
if grep -q "LeakSanitizer has encountered a fatal error\|LeakSanitizer does not work" "$logs/leak-probe.log"; then
  echo "fuzz.sh: LeakSanitizer cannot run here; fuzzing without leak detection" >&2
  export ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0"
fi

# Runs one target; its verdict goes to <logs>/<target>.result as "status executions".
run_target() {
  local name=$1
  local program="$BUILD_DIR/fuzz/${name}_fuzz"
  local corpus="$BUILD_DIR/fuzz-corpus/$name"
  local findings="$BUILD_DIR/fuzz-findings/$name"
  local seeds="fuzz/corpus/$name"
  local dictionary="fuzz/dictionaries/$name.dict"
  local log="$logs/$name.log"
  mkdir -p "$corpus" "$findings"
  [ -d "$seeds" ] || seeds=""
  local options=()
  [ -f "$dictionary" ] && options+=(-dict="$dictionary")
  local status=0
  nice -n 10 "$program" -max_total_time="$SECONDS_PER_TARGET" -timeout="$TIMEOUT" -rss_limit_mb=2048 \
    -max_len="$MAX_LEN" -print_final_stats=1 -artifact_prefix="$findings/" ${options[@]+"${options[@]}"} \
    "$corpus" ${seeds:+"$seeds"} >"$log" 2>&1 || status=$?
  local executions
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  echo "$status ${executions:-0}" >"$logs/$name.result"
}

for name in "${targets[@]}"; do
  if [ ! -x "$BUILD_DIR/fuzz/${name}_fuzz" ]; then
    echo "fuzz.sh: no fuzz target named $name" >&2
    exit 1
  fi
  rm -f "$logs/$name.result"
  while [ "$(jobs -rp | wc -l)" -ge "$JOBS" ]; do wait -n || true; done
  echo "fuzzing $name for $SECONDS_PER_TARGET s"
  run_target "$name" &
done
wait

failed=0
printf '%-20s %14s  %s\n' target executions verdict
for name in "${targets[@]}"; do
  read -r status executions <"$logs/$name.result" || { status=1; executions=0; }
  verdict="no finding"
  if [ "$status" -ne 0 ]; then
    verdict="FINDING (exit $status): see $logs/$name.log and $BUILD_DIR/fuzz-findings/$name/"
    failed=1
  fi
  printf '%-20s %14s  %s\n' "$name" "$executions" "$verdict"
done
exit $failed
