#!/usr/bin/env bash
# Installs what is missing, builds the program and every test, builds the release zip (whose
# program must come out the same from two builds), and runs all three tiers: unit tests and
# component tests under Wine, and the end-to-end scenarios under Xvfb + Wine.
# Then the portable core's checks on Linux: its unit tests under the sanitizers, a short run of
# each fuzz target, and the static analysis, which must find nothing.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/build.sh
bash scripts/package.sh
bash scripts/wineprefix.sh build/wineprefix
ctest --test-dir build --output-on-failure --timeout 900 -j2 "$@"
bash scripts/native.sh
bash scripts/fuzz.sh "${KV_FUZZ_SECONDS:-30}"
bash scripts/analyze.sh
