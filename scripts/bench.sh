#!/usr/bin/env bash
# Benchmarks, not tests: the firmware upload end to end over the simulated line at the tracker's
# real speed. Figures in build/bench/ and on standard output.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/build.sh
cd tests/e2e
KV_BUILD_DIR="$PWD/../../build" KV_SOURCE_DIR="$PWD/../.." python3 -m unittest -v bench_upload
