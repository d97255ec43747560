#!/usr/bin/env bash
# Builds the release packages from clean builds into dist/:
#   dist/ovrin70_VERSION_amd64.deb         the Debian package (native build)
#   dist/Ovrin70-VERSION-windows.zip       the x64 and x86 DLLs, tools and import libraries
#   dist/Ovrin70-VERSION-setup.exe         the installer of ovrin-tray.exe, ovrin.exe and the DLL, from the ZIP's files
#   dist/ovrin70-VERSION-py3-none-{manylinux_2_NN_x86_64,win_amd64,win32}.whl   the Python module with the library (NN: the glibc it needs)
#   dist/Ovrin70.VERSION.nupkg             the C# binding with the native library of each platform
#   dist/Ovrin70.VERSION.snupkg            its symbols package (the binding's PDB), both made by dotnet pack
# Usage: package.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
# The times that builds and packages record are the commit's: the PE
# timestamp that ld writes into each program and DLL among them, so that the
# same commit gives the same installer.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}
work=$root/build-package
rm -rf "$work" "$root/dist"
mkdir -p "$root/dist"

configure() {  # configure DIR ARGS...: a release build without the tests, and its wheel
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOVRIN_BUILD_TESTS=OFF "$@" >/dev/null
  cmake --build "$dir"
  cmake --build "$dir" --target python_wheel
}
configure "$work/linux" -DCMAKE_INSTALL_PREFIX=/usr
(cd "$work/linux" && cpack -B "$root/dist" >/dev/null)
configure "$work/win32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake"
configure "$work/win64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DOVRIN_PACKAGE_X86_BUILD="$work/win32" -DOVRIN_PACKAGE_LINUX_BUILD="$work/linux"
(cd "$work/win64" && cpack -B "$root/dist" >/dev/null)
version=$(sed -n 's/^project(Ovrin70 VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
unzip -q "$root/dist/Ovrin70-$version-windows.zip" -d "$work/installer"
"$root/cmake/windows_installer.sh" "$work/installer/Ovrin70-$version-windows" "$version" \
  "$root/dist/Ovrin70-$version-setup.exe"
cmake --build "$work/win64" --target nuget_package
cp "$work"/*/package/*.whl "$work/win64/package/"*.nupkg "$work/win64/package/"*.snupkg "$root/dist/"
rm -rf "$root/dist/_CPack_Packages"
ls -l "$root/dist"
