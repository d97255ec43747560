#!/usr/bin/env bash
# A DLL built here may import system DLLs only (no libgcc, libstdc++ or
# winpthread DLL), and from them only functions Windows 7 has: the list in
# ALLOWED. Usage: check_imports.sh OBJDUMP DLL ALLOWED
set -euo pipefail
listing=$("$1" -p "$2")
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$listing" | tr 'A-Z' 'a-z' | sort)
echo "$imports"
bad=$(echo "$imports" | grep -Ev '^(kernel32|advapi32|user32|setupapi|msvcrt)\.dll$' || true)
if [ -n "$bad" ]; then
  echo "not a system DLL: $bad"
  exit 1
fi
functions=$(awk '/DLL Name:/ {dll = tolower($3)} /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ {print dll, $3}' <<<"$listing" | sort -u)
unknown=$(comm -23 <(echo "$functions") <(grep -v '^#' "$3" | sort -u))
if [ -n "$unknown" ]; then
  printf 'imported, and not known to be on Windows 7:\n%s\n' "$unknown"
  exit 1
fi
echo "$(wc -l <<<"$functions") functions imported, each on Windows 7"
