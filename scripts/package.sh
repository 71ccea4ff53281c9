#!/usr/bin/env bash
# Builds the release to download, dist/KV_Firmware_Tool-<version>.zip (the version is the version
# block's in res/KV_Firmware_Tool.rc): the program, the user guide as a text file and the SHA-256
# sums of both. The program is built twice, in two fresh folders, and must come out the same byte
# for byte: then anyone with the same toolchain can check that the program in the zip is the one
# this commit makes. build/, the tests' build, is left alone.
#
#   scripts/package.sh [--into DIR]      (default: dist)
set -euo pipefail
cd "$(dirname "$0")/.."

out=dist
[ "${1:-}" = --into ] && out=$2

bash scripts/setup.sh
for copy in a b; do
  rm -rf "build-package/$copy"
  cmake -S . -B "build-package/$copy" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "build-package/$copy" --target KV_Firmware_Tool -j"$(nproc)" >/dev/null
done
program=build-package/a/KV_Firmware_Tool.exe
cmp "$program" build-package/b/KV_Firmware_Tool.exe ||
  { echo "package: two builds of the same commit differ" >&2; exit 1; }
# Both builds share the source folder, so a path to it would not show as a difference.
! grep -qaF "$PWD" "$program" || { echo "package: the program holds the path $PWD" >&2; exit 1; }
python3 scripts/package_zip.py "$program" GUIDE.ru.md res/KV_Firmware_Tool.rc "$out" "$(git log -1 --format=%ct)"
