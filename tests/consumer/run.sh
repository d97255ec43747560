#!/usr/bin/env bash
# Installs the native build into a temporary prefix and builds a host against
# it twice: with find_package(Ovrin70) and with pkg-config.
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/ovrin-consumer-XXXXXX)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
libdir=$(dirname "$(find "$work/prefix" -name 'libOvrin70.so' | head -n 1)")

cmake -S "$here" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
LD_LIBRARY_PATH=$libdir "$work/cmake-build/consumer"

export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
g++ -std=c++11 -Wall -Werror -o "$work/pc-consumer" "$here/main.cpp" $(pkg-config --cflags --libs ovrin70)
LD_LIBRARY_PATH=$libdir "$work/pc-consumer"
