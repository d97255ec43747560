#!/usr/bin/env bash
# A DLL built here may import system DLLs only: no libgcc, libstdc++ or
# winpthread. Usage: check_imports.sh OBJDUMP DLL
set -euo pipefail
imports=$("$1" -p "$2" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort)
echo "$imports"
bad=$(echo "$imports" | grep -Ev '^(kernel32|advapi32|user32|msvcrt)\.dll$' || true)
if [ -n "$bad" ]; then
  echo "not a system DLL: $bad"
  exit 1
fi
