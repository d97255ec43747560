#!/usr/bin/env bash
# Builds a C and a C++ host against an installed Ovrin70, with find_package
# and with pkg-config, and runs each against a simulated meter.
# Usage: run.sh --build BUILD_DIR   (installs that build into a temporary prefix)
#        run.sh --root ROOT         (the Debian package installed under ROOT: ROOT/usr)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/ovrin-consumer-XXXXXX)
sim_pid=""
trap '[ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT
case $1 in
  --build)
    prefix=$work/prefix
    cmake --install "$(cd "$2" && pwd)" --prefix "$prefix" >/dev/null ;;
  --root)
    prefix=$(cd "$2" && pwd)/usr ;;
  *) echo "usage: run.sh --build BUILD_DIR | --root ROOT" >&2; exit 2 ;;
esac
libdir=$(dirname "$(find "$prefix" -name 'libOvrin70.so' | head -n 1)")

"$prefix/bin/ovrin-sim" >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.05; done
export OVRIN_SERIAL_PORTS
OVRIN_SERIAL_PORTS=$(head -n 1 "$work/sim.out")
export XDG_CONFIG_HOME=$work/config LD_LIBRARY_PATH=$libdir

cmake -S "$here" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
"$work/cmake-build/c_consumer"
"$work/cmake-build/cxx_consumer"

export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
gcc -std=c89 -pedantic -Wall -Werror -o "$work/pc-c" "$here/main.c" $(pkg-config --cflags --libs ovrin70)
# shellcheck disable=SC2046
g++ -std=c++11 -Wall -Werror -o "$work/pc-cxx" "$here/main.cpp" $(pkg-config --cflags --libs ovrin70)
"$work/pc-c"
"$work/pc-cxx"
