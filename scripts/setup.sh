#!/usr/bin/env bash
# Installs what building and testing the tool needs on a Debian machine, and nothing that is
# already there. Safe to run again: every step checks first.
set -euo pipefail

need=()
# Installing needs root; a developer's own account goes through sudo.
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${as_root[@]}" dpkg --add-architecture i386
  fresh_arch=1
fi

for pkg in g++-mingw-w64-i686 binutils-mingw-w64-i686 cmake googletest wine wine32:i386 \
  xvfb imagemagick fonts-wine python3 lrzsz locales; do
  have "$pkg" || need+=("$pkg")
done

if [ ${#need[@]} -gt 0 ] || [ -n "${fresh_arch:-}" ]; then
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" apt-get update -q
  [ ${#need[@]} -gt 0 ] && "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}"
fi
# The end-to-end scenarios run the program as on a Russian Windows: Wine takes its code page
# (1251) from this locale.
locale -a | grep -qx ru_RU.utf8 || "${as_root[@]}" localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
exit 0
