#!/usr/bin/env bash
# The Delphi unit under Free Pascal (fpc -Mdelphi) on Linux: the test program
# and the example, against simulated meters through libOvrin70.so. The record
# sizes the unit checks are compared with the C compiler's for ovrin.h.
# Usage: run.sh NATIVE_BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$build/delphi
mkdir -p "$out"
for program in "$root/tests/delphi/meter_test.dpr" "$root/bindings/delphi/example/OvrinExample.dpr"; do
  fpc -Mdelphi -Sew -vw -l- -Fu"$root/bindings/delphi" -FE"$out" -FU"$out" -Fl"$build" "$program" >"$out/fpc.log" ||
    { cat "$out/fpc.log"; exit 1; }
done
work=$(mktemp -d /tmp/ovrin-delphi-XXXXXX)
sims=()
cleanup() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
meter() {  # meter ARGS...: a simulated meter, the only port there is
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$build/ovrin-sim" "$@" >"$work/sim.out" &
  sims+=($!)
  for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.05; done
  export OVRIN_SERIAL_PORTS=$(head -n 1 "$work/sim.out") XDG_CONFIG_HOME=$work
}
export LD_LIBRARY_PATH=$build
cat >"$work/sizes.c" <<'C'
#include <stdio.h>
#include "ovrin.h"
int main(void) {
  printf("sizes %zu %zu %zu %zu\n", sizeof(OvrinRecord), sizeof(OvrinReading), sizeof(OvrinTrace),
         sizeof(OvrinPortIdentity));
  return 0;
}
C
cc -I"$root/include" -o "$work/sizes" "$work/sizes.c"
status=0
meter --burst 1000 --value 1 --step 1 --baud 0
output=$("$out/meter_test") || status=1
printf '%s\n' "$output"
if [ "$(head -n 1 <<<"$output")" != "$("$work/sizes")" ]; then
  echo "record sizes differ from ovrin.h's: $("$work/sizes")"
  status=1
fi
meter
output=$("$out/OvrinExample") || status=1
printf '%s\n' "$output"
grep -q '^distance 12345 (31..00+00012345)$' <<<"$output" || { echo "OvrinExample: FAILED"; status=1; }
exit $status
