#!/usr/bin/env bash
# Line and branch coverage of the product code from the whole suite (unit, component and end to
# end, the real program included), built with --coverage into build-coverage/ and run under
# Wine. Prints one row per product folder; the full report with the lines not run is left in
# build-coverage/coverage.txt. Not part of the tests: it takes a full build and a full run.
#
#   scripts/coverage.sh [ctest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/setup-native.sh

build=build-coverage
folders=(log afx link transfer settings app)
# Debug: without optimisation every line and branch gcov counts is one the source shows. The
# product is C++; the one C file, the test library's entry point, runs without a C runtime.
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_FLAGS= -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$build" -j2
bash scripts/wineprefix.sh "$build/wineprefix"

# Counts add up over runs, so each measurement starts from none. A program writes its counts
# when it ends through exit; one that is killed adds nothing.
find "$build" -name '*.gcda' -delete
ctest_status=0
ctest --test-dir "$build" --output-on-failure --timeout 900 -j2 "$@" || ctest_status=$?

filters=()
for folder in "${folders[@]}"; do filters+=(--filter "$PWD/$folder/"); done
gcovr_common=(--root . --gcov-executable i686-w64-mingw32-gcov-posix
  --exclude-throw-branches --exclude-unreachable-branches)
gcovr "${gcovr_common[@]}" "${filters[@]}" --json "$build/coverage.json" "$build"
gcovr --root . --add-tracefile "$build/coverage.json" "${filters[@]}" --txt "$build/coverage.txt"
gcovr --root . --add-tracefile "$build/coverage.json" "${filters[@]}" --branches --txt "$build/coverage-branches.txt"

printf '\n%-10s %18s %18s\n' folder lines branches
for folder in "${folders[@]}" ""; do
  summary=$(gcovr --root . --add-tracefile "$build/coverage.json" \
    --filter "$PWD/${folder:-(afx|link|transfer|settings|app)}/" --print-summary -o /dev/null)
  lines=$(sed -n 's/^lines: *\([0-9.]*%\) (\([0-9]* out of [0-9]*\)).*/\1 (\2)/p' <<<"$summary")
  branches=$(sed -n 's/^branches: *\([0-9.]*%\) (\([0-9]* out of [0-9]*\)).*/\1 (\2)/p' <<<"$summary")
  printf '%-10s %18s %18s\n' "${folder:-all}" "${lines%% (*}" "${branches%% (*}"
done
echo "full report: $build/coverage.txt"
if [ "$ctest_status" -ne 0 ]; then
  echo "some tests failed (ctest $ctest_status): the figures miss what they would have run" >&2
fi
exit "$ctest_status"
