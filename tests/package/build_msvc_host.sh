#!/usr/bin/env bash
# Builds a host as Visual C++ builds one: clang for the MSVC ABI, no C
# runtime of its own (new, delete, printf and the heap from MSVCR70.DLL, as a
# Visual C++ 7.0 program has them), linked by lld-link against import
# libraries made here from imports/*.def and the libraries given.
# Usage: build_msvc_host.sh [--dll] [--runtime DLL] x86|x64 SOURCE OUT_DIR [LIBRARY...]
# --dll makes a DLL (and its import library) instead of a program; --runtime
# takes the C runtime from another DLL than msvcr70 (msvcr71, as Visual C++
# 7.1 has it). OUT_DIR is also searched for headers a test writes there.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
kind=exe runtime=msvcr70
while [ "${1#--}" != "$1" ]; do
  case $1 in
    --dll) kind=dll; shift ;;
    --runtime) runtime=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
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
# Every Visual C++ runtime exports what msvcr70.def lists.
[ "$runtime" = msvcr70 ] || sed "s/^LIBRARY msvcr70.dll/LIBRARY $runtime.dll/" "$out/msvcr70.def" >"$out/$runtime.def"
for dll in "$runtime" kernel32 user32; do
  llvm-dlltool -m "$machine" -k -d "$out/$dll.def" -l "$out/$dll.lib"
done
name=$(basename "${source%.*}")
clang --target="$triple" -std=c++17 -ffreestanding -fms-extensions -fno-exceptions -fno-rtti -fno-threadsafe-statics \
  -fno-stack-protector -O1 -Wall -Wextra -Werror -I"$out" -c "$source" -o "$out/$name.obj"
if [ "$kind" = dll ]; then
  link=(/dll /noentry /out:"$out/$name.dll")
else
  link=(/entry:start /subsystem:console /out:"$out/$name.exe")
fi
lld-link /nologo "${link[@]}" /nodefaultlib /machine:"$arch" "$out/$name.obj" "$@" \
  "$out/$runtime.lib" "$out/kernel32.lib" "$out/user32.lib"
