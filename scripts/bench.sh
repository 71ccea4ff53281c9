#!/usr/bin/env bash
# Benchmarks, not tests: the timings a user waits through on the wizard's pages (the firmware
# upload at the tracker's real line speed and unpaced, in ms per KiB; job 0 page by page; the
# delays of the two error boxes, and the CPU time the program spends while page 5 waits for a
# silent tracker), then those of the program's port code on a real COM port. Figures on
# standard output and in build/bench/; nothing is asserted about them.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/build.sh
# The harness of the tests drives the program: the source tree and tests/ on the path, as for them.
export KV_BUILD_DIR="$PWD/build" KV_SOURCE_DIR="$PWD" PYTHONPATH="$PWD"
python3 bench/wizard_pages.py
python3 bench/port_code.py
