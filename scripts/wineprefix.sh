#!/usr/bin/env bash
# Creates and configures a Wine prefix for the tests; does nothing when the prefix is ready.
#
#   scripts/wineprefix.sh [PREFIX]      (default: build/wineprefix)
#
# The settings are what makes Wine under Xvfb usable by tests:
#   X11 Driver Managed=N, Decorated=N   with no window manager, every closing dialog would wait
#                                       2 s for an answer that never comes
#   WineDbg ShowCrashDialog=0           a crash then exits with code 5 and "Unhandled page fault"
#                                       on stderr instead of waiting for a click
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
prefix=$(realpath -m "${1:-$here/../build/wineprefix}")
mkdir -p "$(dirname "$prefix")"

# ctest may start several test programs at once; only one of them creates the prefix.
exec 9>"$prefix.lock"
flock -w 300 9

marker="$prefix/.kv-prefix-ready"
[ -f "$marker" ] && exit 0
# A prefix without the marker was cut short while being made: start it again from nothing.
rm -rf "$prefix"

export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all
# Without a display wineboot shows no progress window.
unset DISPLAY WAYLAND_DISPLAY

started=$(date +%s)
wineboot -i

settings="$prefix/kv-test-settings.reg"
cat >"$settings" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"Decorated"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
REG
wine regedit /S "Z:${settings//\//\\}"
# The server writes the registry to disk when it ends; wait for that before calling it ready.
wineserver -w
rm -f "$settings"

grep -q '"Managed"="N"' "$prefix/user.reg" || { echo "wineprefix: settings did not reach $prefix/user.reg" >&2; exit 1; }
grep -q '"ShowCrashDialog"=dword:00000000' "$prefix/user.reg" || { echo "wineprefix: crash dialog setting missing" >&2; exit 1; }
touch "$marker"
echo "wineprefix: $prefix ready in $(( $(date +%s) - started )) s"
