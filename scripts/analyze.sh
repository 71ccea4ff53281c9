#!/usr/bin/env bash
# Static analysis of the product code (log/, afx/, link/, transfer/, settings/, app/): clang-tidy with
# the checks in .clang-tidy, on the compile commands of the MinGW build, and cppcheck. Prints
# every finding; any finding fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

folders=(log afx link transfer settings app)
bash scripts/setup-native.sh
build=build-analysis
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null

# clang knows the MinGW target but not where Debian keeps its C++ library: take the include
# folders from the cross compiler itself, all but GCC's own builtin headers (clang has its own).
includes=(--extra-arg=--target=i686-w64-mingw32 --extra-arg=-nostdinc++)
while read -r dir; do
  case "$dir" in
    */c++ | */c++/* | */i686-w64-mingw32/include) includes+=(--extra-arg=-isystem"$(realpath "$dir")") ;;
  esac
done < <(echo | i686-w64-mingw32-g++-posix -xc++ -E -v - 2>&1 |
  sed -n '/#include <...> search/,/End of search/s/^ //p')

sources=$(git ls-files "${folders[@]/%//*.cpp}")
tidy_log=$build/clang-tidy.txt
# One file per process, two at a time; the findings, sorted and without repeats, go to the log.
xargs -P2 -n1 clang-tidy-14 -p "$build" --quiet "${includes[@]}" <<<"$sources" 2>/dev/null |
  grep -E '^/.*: (warning|error):' | sed "s|^$PWD/||; s|$build/layers/[a-z]*/||" | sort -u >"$tidy_log" || true

cppcheck_log=$build/cppcheck.txt
# The Windows and C++ library headers are not analysed (missingIncludeSystem); the program is
# 32-bit Unicode Windows.
cppcheck --quiet --std=c++17 --language=c++ --platform=win32W --enable=warning,style,performance,portability \
  --inline-suppr --suppress=missingIncludeSystem -D_WIN32 -DUNICODE -D_UNICODE -I . -I afx \
  --template='{file}:{line}: {severity}: {message} [{id}]' "${folders[@]}" 2>"$cppcheck_log" || true

findings=$(( $(wc -l <"$tidy_log") + $(wc -l <"$cppcheck_log") ))
echo "== clang-tidy ($(wc -l <"$tidy_log"))"; cat "$tidy_log"
echo "== cppcheck ($(wc -l <"$cppcheck_log"))"; cat "$cppcheck_log"
echo "static analysis: $findings findings"
[ "$findings" -eq 0 ]
