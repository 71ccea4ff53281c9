#!/usr/bin/env bash
# Benchmarks, not tests: the timings a user waits through on the wizard's pages (the firmware
# upload at the tracker's real line speed and unpaced, in ms per KiB and per 1 KiB block against
# the protocol's own bound; job 0 page by page; the delays of the two error boxes, and the CPU
# time the program spends while page 5 waits for a silent tracker), then those of the program's
# port code on a real COM port. Figures on standard output and in build/bench/; nothing is
# asserted about them.
#
#   scripts/bench.sh [--upload-only]
#
# --upload-only runs the upload alone, paced and unpaced, and writes build/bench/upload.json.
# KV_BUILD_DIR=DIR measures the program already built in DIR (another commit's build folder, say)
# with this tree's benchmarks, simulator and harness: nothing is set up or built then, and the
# figures go to DIR/bench/.
set -euo pipefail
cd "$(dirname "$0")/.."

upload_only=
case "${1-}" in
  "") ;;
  --upload-only) upload_only=--upload-only ;;
  *) echo "usage: $0 [--upload-only]" >&2; exit 2 ;;
esac

if [ -z "${KV_BUILD_DIR-}" ]; then
  bash scripts/setup.sh
  bash scripts/build.sh
  KV_BUILD_DIR="$PWD/build"
fi
# The harness of the tests drives the program: the source tree and tests/ on the path, as for them.
export KV_BUILD_DIR="$(realpath "$KV_BUILD_DIR")" KV_SOURCE_DIR="$PWD" PYTHONPATH="$PWD"
python3 bench/wizard_pages.py $upload_only
[ -n "$upload_only" ] || python3 bench/port_code.py
