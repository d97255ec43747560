#!/usr/bin/env bash
# Builds the fuzzers with clang and runs each for a short while on a copy of
# its committed corpus. Usage: run_fuzzers.sh BUILD_DIR SECONDS
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$1
seconds=${2:-10}
mkdir -p "$build"
flags=(-std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
       -I"$root/include" -I"$root/src" -DOVRIN_BUILDING)
sources=("$root/src/protocol/reply_parser.cpp" "$root/src/protocol/error_text.cpp")
status=0
for fuzzer in parse_reply line_assembler desc_error; do
  clang++ "${flags[@]}" -o "$build/${fuzzer}_fuzz" "$root/tests/fuzz/${fuzzer}_fuzz.cpp" "${sources[@]}"
  found=$(mktemp -d)
  if "$build/${fuzzer}_fuzz" -max_total_time="$seconds" -print_final_stats=1 "$found" \
      "$root/tests/fuzz/corpus/$fuzzer" > "$build/$fuzzer.log" 2>&1; then
    echo "$fuzzer: $(grep -o 'stat::number_of_executed_units: [0-9]*' "$build/$fuzzer.log" | awk '{print $2}') runs, no finding"
  else
    echo "$fuzzer: FAILED"; tail -n 30 "$build/$fuzzer.log"; status=1
  fi
  rm -rf "$found"
done
exit $status
