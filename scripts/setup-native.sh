#!/usr/bin/env bash
# Installs the Linux-side tools of the soundness checks, and nothing that is already there:
# clang with its sanitizer and fuzzer runtimes (the native build of the portable core and the
# fuzz targets), clang-tidy and cppcheck (the analysis), gcovr (the coverage report).
set -euo pipefail

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

need=()
for pkg in clang-14 libclang-rt-14-dev clang-tidy-14 cppcheck gcovr googletest cmake make; do
  have "$pkg" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  "${as_root[@]}" apt-get update -q
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}"
fi
exit 0
