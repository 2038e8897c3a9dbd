#!/bin/bash
# Builds devdrives.exe and the two reference exes, then times them under
# Wine (bench/wine_timing.py), with devdrives-capture.exe beside them; the
# last line printed is the ratio of devdrives.exe to the bare device listing.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/wine-timing
[ -f "$build/mingw/CMakeCache.txt" ] ||
  cmake -S . -B "$build/mingw" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/mingw" -j "$(nproc)" >/dev/null
for exe in enumerate_devices do_nothing; do
  i686-w64-mingw32-g++-win32 -municode -static -Os -s -o "$build/$exe.exe" "bench/$exe.cpp"
done
exec python3 bench/wine_timing.py --devdrives "$build/mingw/devdrives.exe" \
  --capture "$build/mingw/devdrives-capture.exe" \
  --enumerate "$build/enumerate_devices.exe" --nothing "$build/do_nothing.exe" "$@"
