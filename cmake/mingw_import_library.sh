#!/usr/bin/env bash
# x86 only: MinGW's import library for Ovrin70.dll, made anew after the link.
# ld's own (--out-implib) loses the @N of the __stdcall names that --kill-at
# took off the exports, and MinGW hosts call those functions by them. This
# one lists every export of the DLL: the C interface's with its @N from
# Ovrin70.def, g++'s vtables and type data as data.
# Usage: mingw_import_library.sh OBJDUMP DLLTOOL DLL DEF OUT
set -euo pipefail
objdump=$1 dlltool=$2 dll=$3 def=$4 out=$5
{
  echo "LIBRARY $(basename "$dll")"
  echo "EXPORTS"
  "$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\t\[ *[0-9]*\] //p' |
    while read -r name; do
      decorated=$(grep -m1 -x "  $name@[0-9]*" "$def" || true)
      if [ -n "$decorated" ]; then
        echo "$decorated"
      elif [[ $name == _ZT[VIS]* ]]; then
        echo "  $name DATA"
      else
        echo "  $name"
      fi
    done
} >"$out.def"
"$dlltool" -k -d "$out.def" -D "$(basename "$dll")" -l "$out"
