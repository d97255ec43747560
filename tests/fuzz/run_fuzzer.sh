#!/usr/bin/env bash
# Runs one fuzzer for a while on its committed corpus; what it finds new goes
# to a scratch folder, never into the corpus. Usage: run_fuzzer.sh FUZZER CORPUS SECONDS
set -euo pipefail
fuzzer=$1
corpus=$2
seconds=$3
found=$(mktemp -d)
log=$(mktemp)
trap 'rm -rf "$found" "$log"' EXIT
if "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 "$found" "$corpus" >"$log" 2>&1; then
  echo "$(basename "$fuzzer"): $(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | awk '{print $2}') runs, no finding"
else
  echo "$(basename "$fuzzer"): FAILED"
  tail -n 30 "$log"
  exit 1
fi
