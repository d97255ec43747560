#!/usr/bin/env bash
# Ovrin70.dll may import system DLLs only: no libgcc, libstdc++ or winpthread.
set -euo pipefail
imports=$(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort)
echo "$imports"
allowed='^(kernel32|advapi32|user32|msvcrt)\.dll$'
bad=$(echo "$imports" | grep -Ev "$allowed" || true)
if [ -n "$bad" ]; then
  echo "not a system DLL: $bad"
  exit 1
fi
