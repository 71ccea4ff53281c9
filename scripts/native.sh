#!/usr/bin/env bash
# Builds the portable core and its unit tests natively on Linux with clang-14, AddressSanitizer
# and UndefinedBehaviorSanitizer into build-native/, and runs the tests: a memory error or
# undefined behaviour that the Windows build would let pass fails here.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-native.sh
cmake -S tests/native -B build-native -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-native -j2
# A leak is a fault as well; halt_on_error makes every report end the test program.
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-native --output-on-failure -j2
