#!/usr/bin/env bash
# Builds a host as Visual C++ builds one: clang for the MSVC ABI, no C
# runtime of its own (new, delete, printf and the heap from MSVCR70.DLL, as a
# Visual C++ 7.0 program has them), linked by lld-link against import
# libraries made here from imports/*.def and the libraries given.
# Usage: build_msvc_host.sh x86|x64 SOURCE OUT_DIR [LIBRARY...]
# (OUT_DIR is also searched for headers a test writes there.)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
arch=$1 source=$2 out=$3
shift 3
mkdir -p "$out"
if [ "$arch" = x86 ]; then
  triple=i686-pc-windows-msvc machine=i386
  cp "$here"/imports/*.def "$out/"
else
  triple=x86_64-pc-windows-msvc machine=i386:x86-64
  # x64 has one calling convention: no @N, and operator names of its own.
  for def in "$here"/imports/*.def; do sed 's/@[0-9]*$//' "$def" >"$out/$(basename "$def")"; done
  sed -i 's/??2@YAPAXI@Z/??2@YAPEAX_K@Z/; s/??3@YAXPAX@Z/??3@YAXPEAX@Z/' "$out/msvcr70.def"
fi
for dll in msvcr70 kernel32 user32; do
  llvm-dlltool -m "$machine" -k -d "$out/$dll.def" -l "$out/$dll.lib"
done
name=$(basename "${source%.*}")
clang --target="$triple" -std=c++17 -ffreestanding -fms-extensions -fno-exceptions -fno-rtti -fno-threadsafe-statics \
  -fno-stack-protector -O1 -Wall -Wextra -Werror -I"$out" -c "$source" -o "$out/$name.obj"
lld-link /nologo /entry:start /subsystem:console /nodefaultlib /machine:"$arch" "$out/$name.obj" "$@" \
  "$out/msvcr70.lib" "$out/kernel32.lib" "$out/user32.lib" /out:"$out/$name.exe"
