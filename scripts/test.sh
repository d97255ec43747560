#!/usr/bin/env bash
# Builds the native and the Windows build and runs every test of both.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"

cmake -S "$root" -B "$root/build" -G Ninja
cmake --build "$root/build"
cmake -S "$root" -B "$root/build-win" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DOVRIN_NATIVE_BUILD_DIR="$root/build"
cmake --build "$root/build-win"
cmake -S "$root" -B "$root/build-win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake"
cmake --build "$root/build-win32"

status=0
ctest --test-dir "$root/build" --output-on-failure -j 2 || status=1
ctest --test-dir "$root/build-win" --output-on-failure || status=1
ctest --test-dir "$root/build-win32" --output-on-failure || status=1
exit $status
