#!/usr/bin/env bash
# Cross-compiles the Delphi test program and example for Windows x64 with
# Free Pascal, against its RTL from fpc_win64_rtl.sh. Usage: windows.sh OUT_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
units=$("$root/tests/delphi/fpc_win64_rtl.sh")
mkdir -p "$1"
for program in "$root/tests/delphi/meter_test.dpr" "$root/bindings/delphi/example/OvrinExample.dpr"; do
  fpc -Twin64 -Px86_64 -Mdelphi -Sew -vw -l- -Fu"$units" -Fu"$root/bindings/delphi" -FE"$1" -FU"$1" "$program"
done
