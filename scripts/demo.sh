#!/usr/bin/env bash
# Measures three times with the ovrin command against the simulated meter.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" --native
cmake -S "$root" -B "$root/build" -G Ninja >/dev/null
cmake --build "$root/build" --target ovrin ovrin-sim >/dev/null

work=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null; rm -rf "$work"' EXIT
"$root/build/ovrin-sim" --value 1520 --step 35 >"$work/port" &
sim=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
port=$(head -n 1 "$work/port")
echo "simulated meter on $port"
# Only the simulated meter is searched, and the remembered port is kept apart.
OVRIN_SERIAL_PORTS="$port" XDG_CONFIG_HOME="$work" \
  "$root/build/ovrin" measure --count 3 --interval 300 "$@"
