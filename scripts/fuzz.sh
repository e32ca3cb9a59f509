#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ (engine, data file
# reader and batch mode; no window toolkit needed) and runs each target for a
# bounded time, starting from the seed corpus in fuzz/corpus and the inputs in
# fuzz/regressions. Fails when a target finds a fault; the input that shows
# it is left in build-fuzz/artifacts/TARGET/.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SECONDS_PER_TARGET="${1:-60}"
FUZZ_BUILD_DIR="${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}"
source "$ROOT/scripts/packages.sh"
install_missing_packages cmake make clang libclang-rt-14-dev

cmake -S "$ROOT" -B "$FUZZ_BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVORIN_FUZZ=ON \
      -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$FUZZ_BUILD_DIR" -j"$(nproc)"

source "$ROOT/scripts/sanitizer-env.sh"
# The targets write their scratch files for every input: keep them in memory.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
seeds=("$ROOT/fuzz/corpus")
if [ -d "$ROOT/fuzz/regressions" ]; then seeds+=("$ROOT/fuzz/regressions"); fi

status=0
for target in data_file_fuzzer batch_fuzzer; do
  corpus="$FUZZ_BUILD_DIR/corpus/$target"
  artifacts="$FUZZ_BUILD_DIR/artifacts/$target"
  log="$FUZZ_BUILD_DIR/$target.log"
  mkdir -p "$corpus" "$artifacts"
  # New inputs go to the first folder (in the build); the seeds stay as they are.
  if "$FUZZ_BUILD_DIR/fuzz/$target" "$corpus" "${seeds[@]}" \
       -dict="$ROOT/fuzz/data_file.dict" -max_total_time="$SECONDS_PER_TARGET" -max_len=4096 \
       -timeout=30 -rss_limit_mb=2048 -artifact_prefix="$artifacts/" -print_final_stats=1 >"$log" 2>&1; then
    result="no fault found"
  else
    result="FAULT FOUND (input in $artifacts/, log in $log)"
    tail -n 60 "$log"
    status=1
  fi
  executions="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)"
  echo "$target: $executions executions in ${SECONDS_PER_TARGET} s, $result"
done
exit "$status"
