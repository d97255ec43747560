#!/bin/sh
# The wheel's platform tag for a Linux library: manylinux_2_NN_ARCH, NN the
# highest GLIBC_2.NN symbol version it needs (objdump -T). Fails when it
# needs a library that is not glibc's own.
# Usage: manylinux_tag.sh OBJDUMP LIBRARY ARCH
set -eu
others=$("$1" -p "$2" | awk '$1 == "NEEDED" {print $2}' |
  grep -Ev '^(libc|libm|libpthread|libdl|librt|ld-linux-x86-64)\.so\.[0-9]+$' || true)
if [ -n "$others" ]; then
  echo "manylinux_tag.sh: $2 needs more than glibc: $others" >&2
  exit 1
fi
minor=$("$1" -T "$2" | grep -o 'GLIBC_2\.[0-9]*' | cut -d. -f2 | sort -n | tail -n 1)
echo "manylinux_2_${minor}_$3"
