#!/usr/bin/env bash
# The program's main job: installs what is missing, builds, plugs in the simulated tracker and
# runs the wizard under Wine.
#   With a display (DISPLAY set): the wizard is yours to click through; the simulated tracker
#   stays plugged in on COM7 until the program ends, and the terminal plays its buttons: when a
#   page asks you to hold the power button and press Reset, type r and Enter.
#   Without one: the wizard runs under Xvfb and the robot walks it as far as it goes, saving a
#   screenshot of every page in build/screenshots/Walkthrough.*/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/build.sh

if [ -z "${DISPLAY:-}" ]; then
  cd tests/e2e
  KV_BUILD_DIR="$PWD/../../build" KV_SOURCE_DIR="$PWD/../.." python3 -m unittest -v test_walkthrough
  echo "Screenshots of every page on the way: build/screenshots/Walkthrough.*/"
  exit 0
fi

# A prefix of its own, with Wine's usual window handling for a desktop with a window manager.
export WINEPREFIX="$PWD/build/wineprefix-desktop" WINEDEBUG=-all
[ -f "$WINEPREFIX/system.reg" ] || WINEARCH=win32 wineboot -i
python3 sim/tracker.py --prefix "$WINEPREFIX" serve </dev/null &
tracker=$!
trap 'kill "$tracker" 2>/dev/null; wait "$tracker" 2>/dev/null || true' EXIT
# The program looks for the tracker as it starts: wait until it is plugged in.
for _ in $(seq 100); do
  [ -f "$WINEPREFIX/kvsim-com7.json" ] && break
  kill -0 "$tracker" 2>/dev/null || { echo "the simulated tracker did not start" >&2; exit 1; }
  sleep 0.2
done
wine build/KV_Firmware_Tool.exe &
program=$!
if [ -t 0 ]; then
  echo "Tracker buttons: r + Enter = hold power and press Reset (boot loader); n + Enter = Reset alone."
  while kill -0 "$program" 2>/dev/null; do
    status=0
    read -r -t 0.5 key || status=$?
    [ "$status" -gt 128 ] && continue  # nothing typed yet
    [ "$status" -ne 0 ] && break         # end of input: leave the rest to the wizard
    case "$key" in
      r) python3 sim/tracker.py --prefix "$WINEPREFIX" press-reset ;;
      n) python3 sim/tracker.py --prefix "$WINEPREFIX" press-reset --no-power ;;
    esac
  done
fi
wait "$program"
