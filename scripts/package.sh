#!/usr/bin/env bash
# Builds the release packages from clean builds into dist/:
#   dist/ovrin70_VERSION_amd64.deb         the Debian package (native build)
#   dist/Ovrin70-VERSION-windows.zip       the x64 and x86 DLLs, tools and import libraries
# Usage: package.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
work=$root/build-package
rm -rf "$work" "$root/dist"
mkdir -p "$root/dist"

configure() {  # configure DIR ARGS...: a release build without the tests
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOVRIN_BUILD_TESTS=OFF "$@" >/dev/null
  cmake --build "$dir"
}
configure "$work/linux" -DCMAKE_INSTALL_PREFIX=/usr
(cd "$work/linux" && cpack -B "$root/dist" >/dev/null)
configure "$work/win32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake"
configure "$work/win64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DOVRIN_PACKAGE_X86_BUILD="$work/win32"
(cd "$work/win64" && cpack -B "$root/dist" >/dev/null)
rm -rf "$root/dist/_CPack_Packages"
ls -l "$root/dist"
