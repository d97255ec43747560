#!/usr/bin/env bash
# Free Pascal's RTL for Windows x64, built from Debian's fpc-source (its
# Makefile.fpc through fpcmake) by the machine's own x86_64 compiler. Built
# once into a cache outside the tree (OVRIN_FPC_CACHE, else ~/.cache) and
# reused; an interrupted build leaves nothing that counts as done.
# Prints the folder of the units. Usage: fpc_win64_rtl.sh
set -euo pipefail
version=$(fpc -iV)
source=/usr/share/fpcsrc/$version
base=${OVRIN_FPC_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/ovrin70/fpc}
cache=$base/$version-x86_64-win64
mkdir -p "$base"
exec 9>"$cache.lock"
flock 9
if [ ! -f "$cache/done" ]; then
  if [ ! -f "$source/rtl/Makefile.fpc" ]; then
    echo "fpc_win64_rtl.sh: no $source/rtl/Makefile.fpc (fpc-source is not installed)" >&2
    exit 1
  fi
  work=$(mktemp -d "$base/.build-XXXXXX")
  trap 'rm -rf "$work"' EXIT
  cp -r "$source/rtl" "$work/rtl"
  # Debian's source leaves out the processor's makefile.cpu, which only names
  # the include files the system unit depends on.
  [ -f "$work/rtl/x86_64/makefile.cpu" ] ||
    echo 'CPUINCNAMES=$(notdir $(wildcard $(PROCINC)/*.inc))' >"$work/rtl/x86_64/makefile.cpu"
  (cd "$work/rtl" && fpcmake -Tx86_64-win64 -r >"$work/fpcmake.log" 2>&1) || { cat "$work/fpcmake.log" >&2; exit 1; }
  make -C "$work/rtl/win64" -j2 all OS_TARGET=win64 CPU_TARGET=x86_64 FPC="$(fpc -PB)" >"$work/make.log" 2>&1 ||
    { tail -n 20 "$work/make.log" >&2; exit 1; }
  rm -rf "$cache"
  mkdir -p "$cache"
  mv "$work/rtl/units/x86_64-win64" "$cache/units"
  touch "$cache/done"
fi
echo "$cache/units"
