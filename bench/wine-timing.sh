#!/bin/bash
# For each architecture Wine runs here (tests/wine/arches): builds the
# command and the capture exe of that architecture and the two reference
# exes, then times them under Wine (bench/wine_timing.py), with the capture
# beside the command. The last lines give each architecture's ratio of the
# command to the bare device listing, and name each architecture left out,
# with the reason.
set -euo pipefail
cd "$(dirname "$0")/.."

mkdir -p build/wine-timing
left_out=build/wine-timing/arches-left-out
arches=$(tests/wine/arches 2>"$left_out") || {
  echo "wine-timing: Wine runs no exe here: $(cat "$left_out")" >&2
  exit 1
}

ratios=()
for arch in $arches; do
  if [[ $arch == x86 ]]; then toolchain=mingw-i686 triplet=i686-w64-mingw32 suffix=""
  else toolchain=mingw-x86_64 triplet=x86_64-w64-mingw32 suffix=64; fi
  build=build/wine-timing/$arch
  [ -f "$build/mingw/CMakeCache.txt" ] ||
    cmake -S . -B "$build/mingw" -DCMAKE_TOOLCHAIN_FILE="cmake/$toolchain.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build/mingw" -j "$(nproc)" >/dev/null
  for exe in enumerate_devices do_nothing; do
    "$triplet-g++-win32" -municode -static -Os -s -o "$build/$exe.exe" "bench/$exe.cpp"
  done
  python3 bench/wine_timing.py --devdrives "$build/mingw/devdrives$suffix.exe" \
    --capture "$build/mingw/devdrives-capture$suffix.exe" \
    --enumerate "$build/enumerate_devices.exe" --nothing "$build/do_nothing.exe" "$@" | tee "$build/timing.txt"
  last=$(tail -n 1 "$build/timing.txt")
  ratios+=("$arch: ${last##* }")
done

echo
echo "ratio of the command to the bare device listing, by architecture:"
printf '  %s\n' "${ratios[@]}"
while IFS= read -r line; do
  echo "  ${line%%:*}: not timed, because ${line#*: }"
done <"$left_out"
