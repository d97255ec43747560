#!/usr/bin/env bash
# Builds vc_host.exe as Visual C++ builds a host: clang for the MSVC ABI,
# lld-link against Ovrin70.lib and import libraries for MSVCR70.DLL and the
# system DLLs it calls (made here from the .def files beside this script).
# Usage: build_host.sh x86|x64 OVRIN70_LIB OUT_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
arch=$1 ovrin_lib=$2 out=$3
mkdir -p "$out"
if [ "$arch" = x86 ]; then
  triple=i686-pc-windows-msvc machine=i386
  cp "$here"/*.def "$out/"
else
  triple=x86_64-pc-windows-msvc machine=i386:x86-64
  # x64 has one calling convention: no @N, and its own operator names.
  for def in "$here"/*.def; do sed 's/@[0-9]*$//' "$def" >"$out/$(basename "$def")"; done
  sed -i 's/??2@YAPAXI@Z/??2@YAPEAX_K@Z/; s/??3@YAXPAX@Z/??3@YAXPEAX@Z/' "$out/msvcr70.def"
fi
for dll in msvcr70 kernel32 user32; do
  llvm-dlltool -m "$machine" -k -d "$out/$dll.def" -l "$out/$dll.lib"
done
clang --target="$triple" -std=c++17 -fms-extensions -fno-exceptions -fno-rtti -fno-threadsafe-statics \
  -fno-stack-protector -O1 -Wall -Wextra -Werror -c "$here/vc_host.cpp" -o "$out/vc_host.obj"
lld-link /nologo /entry:start /subsystem:console /nodefaultlib /machine:"$arch" "$out/vc_host.obj" "$ovrin_lib" \
  "$out/msvcr70.lib" "$out/kernel32.lib" "$out/user32.lib" /out:"$out/vc_host.exe"
