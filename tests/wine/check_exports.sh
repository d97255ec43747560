#!/usr/bin/env bash
# Ovrin70.dll exports every function of the C interface (ovrin.h) by its
# plain name, and DescError. Usage: check_exports.sh OBJDUMP DLL HEADER
set -euo pipefail
exports=$("$1" -p "$2" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '{print $NF}')
# The queue belongs to the POSIX builds; Windows hosts use a window.
wanted=$(grep -o 'OVRIN_C_API [^(]*\bovrin_[a-z_]*(' "$3" | grep -o 'ovrin_[a-z_]*' | grep -v '^ovrin_queue_')
status=0
for name in $wanted _Z9DescErrorPFPivEPci; do
  grep -qx "$name" <<<"$exports" || { echo "not exported: $name"; status=1; }
done
echo "$(wc -w <<<"$wanted") C functions and DescError exported"
exit $status
