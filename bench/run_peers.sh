#!/usr/bin/env bash
# Builds the native build with the peers and prints the comparison table.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" --native
cmake -S "$root" -B "$root/build" -G Ninja >/dev/null
cmake --build "$root/build"
# The interpreter the build found, which has Debian's pyserial.
python=$(sed -n 's/^_\?Python3_EXECUTABLE:[A-Z]*=//p' "$root/build/CMakeCache.txt" | head -n 1)
exec "$python" "$root/bench/peers/run_peers.py" "$root/build" "$@"
