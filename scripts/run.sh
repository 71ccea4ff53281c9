#!/usr/bin/env bash
# The program's main job: installs what is missing, builds, plugs in the simulated tracker and
# runs the wizard under Wine.
#   With a display (DISPLAY set): the wizard is yours to click through; the simulated tracker
#   stays plugged in on COM7 until the program ends, and the terminal plays its buttons: when a
#   page asks you to hold the power button and press Reset, type r and Enter.
#   Without one: the wizard runs under Xvfb and the robot walks job 0, the firmware upgrade
#   with the tracker's settings saved before it and written back after it, from Start to the
#   finish page, telling each page, the upload and the settings as they go; the screenshots go
#   to build/screenshots/walk/. Exit code 0 once the tracker has the new firmware and its
#   settings of before.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/build.sh

if [ -z "${DISPLAY:-}" ]; then
  # The source tree (for the simulated tracker) and tests/ (for the harness) on the path, as for the tests.
  exec env KV_BUILD_DIR="$PWD/build" KV_SOURCE_DIR="$PWD" PYTHONPATH="$PWD" python3 scripts/walk.py
fi

# A prefix of its own, with Wine's usual window handling for a desktop with a window manager.
export WINEPREFIX="$PWD/build/wineprefix-desktop" WINEDEBUG=-all
[ -f "$WINEPREFIX/system.reg" ] || WINEARCH=win32 wineboot -i
# The tracker says "present on COM7" once it is plugged in; the program looks for it as it
# starts. The rest of what the tracker says (every byte each way) follows in the terminal.
coproc TRACKER { exec python3 -u -m sim --prefix "$WINEPREFIX" serve </dev/null 2>&1; }
trap 'kill "$TRACKER_PID" 2>/dev/null; wait "$TRACKER_PID" 2>/dev/null || true' EXIT
read -r -t 60 first <&"${TRACKER[0]}" || true
if [ "${first:-}" != "present on COM7" ]; then
  echo "the simulated tracker did not come: ${first:-nothing said}" >&2
  exit 1
fi
echo "$first"
exec 3<&"${TRACKER[0]}"  # the coprocess's own descriptor does not reach a background job
cat <&3 &
# As on a Russian Windows: the tracker's settings are 8-bit text of code page 1251.
LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8 wine build/KV_Firmware_Tool.exe &
program=$!
if [ -t 0 ]; then
  echo "Tracker buttons: r + Enter = hold power and press Reset (boot loader); n + Enter = Reset alone."
  while kill -0 "$program" 2>/dev/null; do
    status=0
    read -r -t 0.5 key || status=$?
    [ "$status" -gt 128 ] && continue  # nothing typed yet
    [ "$status" -ne 0 ] && break         # end of input: leave the rest to the wizard
    case "$key" in
      r) python3 -m sim --prefix "$WINEPREFIX" press-reset ;;
      n) python3 -m sim --prefix "$WINEPREFIX" press-reset --no-power ;;
    esac
  done
fi
wait "$program"
