#!/usr/bin/env bash
# Runs the Windows test programs under Wine: simulated meters on pseudo-
# terminals become COM5..COM7, listed in HKLM\HARDWARE\DEVICEMAP\SERIALCOMM.
# Usage: run.sh NATIVE_BUILD_DIR WINDOWS_BUILD_DIR
set -euo pipefail
native=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
work=$(mktemp -d /tmp/ovrin-wine-XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's waits for port events ask a pseudo-terminal for its modem lines.
export LD_PRELOAD=$native/libtiocm_shim.so
unset DISPLAY WAYLAND_DISPLAY
sims=()

cleanup() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# start_sim COM ARGS...: a simulated meter whose terminal becomes COM.
start_sim() {
  local com=$1 out=$work/$1.out
  shift
  "$native/ovrin-sim" "$@" >"$out" 2>"$work/$com.log" &
  sims+=($!)
  for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.05; done
  ln -sfn "$(head -n 1 "$out")" "$WINEPREFIX/dosdevices/${com,,}"
}

mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1  # the HARDWARE keys live only as long as the server
wineboot -i >/dev/null 2>&1
start_sim COM5 --silent
start_sim COM6 --silent
start_sim COM7
key='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
# The key itself is volatile and stays; only its values are replaced.
wine reg delete "$key" /va /f >/dev/null 2>&1 || true
for n in 5 6 7; do wine reg add "$key" /v "Serial$n" /t REG_SZ /d "COM$n" /f >/dev/null; done

status=0
wine "$windows/dll_test.exe" COM7 || status=1
wine "$windows/platform_test.exe" COM7 COM5 || status=1
exit $status
