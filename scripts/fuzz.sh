#!/usr/bin/env bash
# Builds the fuzz targets of the portable core with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/, and runs each for the given seconds (default 30),
# starting from its seed corpus in tests/fuzz/corpus/<target>/. Inputs the run finds interesting
# go to build-fuzz/corpus/<target>/, crashes to build-fuzz/crashes/<target>/; the run fails on
# the first crash, leak or time-out.
#
#   scripts/fuzz.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
shift || true
bash scripts/setup-native.sh
cmake -S tests/native -B build-fuzz -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=Debug -DKV_FUZZ=ON >/dev/null
cmake --build build-fuzz -j2

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=($(ls tests/fuzz/*.cpp | xargs -n1 basename | sed 's/\.cpp$//'))
status=0
for target in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$target crashes=build-fuzz/crashes/$target
  mkdir -p "$corpus" "$crashes"
  echo "== $target, $seconds s"
  # -timeout: one input that runs a second is a sender that no longer ends.
  if ! build-fuzz/fuzz_"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=8192 -print_final_stats=1 -artifact_prefix="$crashes/" \
      "$corpus" "tests/fuzz/corpus/$target" 2>build-fuzz/"$target".log; then
    status=1
    tail -n 60 build-fuzz/"$target".log
  fi
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|^#[0-9]+[[:space:]]+DONE' build-fuzz/"$target".log || true
done
exit "$status"
