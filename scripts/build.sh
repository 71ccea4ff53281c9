#!/usr/bin/env bash
# Cross-builds the program and the tests into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
