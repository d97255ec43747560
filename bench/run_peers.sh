#!/usr/bin/env bash
# Builds the native build with the peers and prints the comparison table.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" --native
cmake -S "$root" -B "$root/build" -G Ninja >/dev/null
cmake --build "$root/build"
exec /usr/bin/python3 "$root/bench/peers/run_peers.py" "$root/build" "$@"
