#!/usr/bin/env bash
# Builds the fuzz targets with clang (ASan + UBSan + libFuzzer) into build-fuzz/ (or
# $SEJFKO_FUZZ_BUILD_DIR) and runs each for SECONDS, seeded from tests/fuzz/corpus/<target>/ and
# what earlier runs in this build directory found. Exits non-zero when any target crashes, leaks,
# exceeds its time or memory per input, or breaks a promise; the input that did it is kept in the
# run's folder (printed), to be added under tests/fuzz/regressions/<target>/ with the mend.
#
#   tests/fuzz/run.sh [SECONDS] [TARGET...]    default: 30 seconds, every target
#   SEJFKO_FUZZ_PARALLEL=N                      targets run at once (default: the cores)
set -uo pipefail
cd "$(dirname "$0")/../.."

seconds="${1:-30}"
shift $(($# > 0 ? 1 : 0))
targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
  targets=(ini_file selection_file state_file zip_reader ftp_reply ftp_listing deletion_list)
fi
build_dir="${SEJFKO_FUZZ_BUILD_DIR:-build-fuzz}"
parallel="${SEJFKO_FUZZ_PARALLEL:-$(nproc)}"

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DSEJFKO_FUZZ=ON -DSEJFKO_WITH_GUI=OFF \
  -DSEJFKO_BUILD_BENCH=OFF >/dev/null || exit 1
cmake --build "$build_dir" -j "$(nproc)" --target sejfko_fuzzers || exit 1

run="$build_dir/fuzz-run"
rm -rf "$run"
mkdir -p "$run"
# The targets' scratch files (every input becomes a file) go to memory where it can be, into
# one folder removed at the end, so that nothing a crashed target left stays behind.
work=$(mktemp -d /dev/shm/sejfko-fuzz-run.XXXXXX 2>/dev/null || mktemp -d "$run/work.XXXXXX")
trap 'rm -rf "$work"' EXIT
export SEJFKO_FUZZ_WORK="$work"

run_target() {
  local target="$1"
  local corpus="$build_dir/fuzz-corpus/$target"
  mkdir -p "$corpus" "$run/$target"
  "$build_dir/tests/fuzz/fuzz_$target" "$corpus" "tests/fuzz/corpus/$target" \
    -dict="tests/fuzz/dict/$target.dict" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -malloc_limit_mb=1024 -max_len=16384 -use_value_profile=1 \
    -print_final_stats=1 -artifact_prefix="$run/$target/" >"$run/$target/log" 2>&1
  echo $? >"$run/$target/rc"
}

for target in "${targets[@]}"; do
  if [ ! -x "$build_dir/tests/fuzz/fuzz_$target" ]; then
    echo "fuzz: no target $target" >&2
    exit 1
  fi
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do
    wait -n
  done
  run_target "$target" &
done
wait

failed=0
total=0
for target in "${targets[@]}"; do
  rc=$(cat "$run/$target/rc")
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$run/$target/log" | tail -n 1)
  runs="${runs:-0}"
  total=$((total + runs))
  corpus=$(find "$build_dir/fuzz-corpus/$target" -type f | wc -l)
  if [ "$rc" -eq 0 ]; then
    printf 'fuzz: %-15s %10s executions, %5s inputs in the corpus\n' "$target" "$runs" "$corpus"
  else
    failed=1
    printf 'fuzz: %-15s FAILED (exit %s) after %s executions\n' "$target" "$rc" "$runs"
    grep -E 'ERROR|expectation failed|SUMMARY' -A8 "$run/$target/log" | head -n 40
    for finding in "$run/$target"/*-*; do
      [ -f "$finding" ] && echo "fuzz: input kept in $finding"
    done
  fi
done
echo "fuzz: $total executions in all, ${seconds} s per target"
exit "$failed"
