#!/usr/bin/env bash
# Benchmarks, not tests: the timings a user waits through on the wizard's pages (the firmware
# upload at the tracker's real line speed, the delays of the two error boxes), then those of
# the program's port code on a real COM port. Figures on standard output and in build/bench/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/build.sh
export KV_BUILD_DIR="$PWD/build" KV_SOURCE_DIR="$PWD"
python3 bench/wizard_pages.py
python3 bench/port_code.py
