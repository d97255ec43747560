#!/usr/bin/env bash
# Runs the Windows test programs under Wine: simulated meters on pseudo-
# terminals become COM5..COM7, listed in HKLM\HARDWARE\DEVICEMAP\SERIALCOMM.
# Usage: run.sh NATIVE_BUILD_DIR WINDOWS_BUILD_DIR
set -euo pipefail
native=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
. "$(dirname "$0")/loader.sh"
use_wine "$windows/Ovrin70.dll"
work=$(mktemp -d /tmp/ovrin-wine-XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Text passes between Wine and the terminal as UTF-8 (a port's name with é).
export LC_ALL=C.UTF-8
# Wine's waits for port events ask a pseudo-terminal for its modem lines.
# The shim for 64- and for 32-bit processes; the dynamic linker picks by $LIB.
export LD_PRELOAD="$native/shim/\$LIB/libtiocm_shim.so"
unset DISPLAY WAYLAND_DISPLAY
sims=()
# A screen of its own (Xvfb) before Wine starts its desktop: windows on it
# then take the keyboard focus, which ovrin.exe type needs.
if command -v Xvfb >/dev/null; then
  Xvfb -displayfd 1 -nolisten tcp >"$work/xvfb.out" 2>/dev/null &
  sims+=($!)
  for _ in $(seq 100); do [ -s "$work/xvfb.out" ] && break; sleep 0.05; done
  export DISPLAY=":$(head -n 1 "$work/xvfb.out")"
fi

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
start_sim COM8 --repeat 2
start_sim COM9 --fragment 4 --gap 20
start_sim COM10 --vanish 3
start_sim COM11 --baud 0 --start-reply "$(printf 'x%.0s' $(seq 200))"
start_sim COM12 --burst 1000 --value 1 --step 1 --baud 0
start_sim COM13 --probe-delay 350
start_sim COM14 --probe-delay 700
start_sim COM15 --baud 0 --fragment 4 --gap 150 --probe-reply xxxx12....+000
start_sim COM16 --baud 0 --deaf 3000
start_sim COM17 --deaf 3000 --baud 0 --step 1
start_sim COM18 --repeat 2 --baud 0
key='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
# The key itself is volatile and stays; only its values are replaced.
wine reg delete "$key" /va /f >/dev/null 2>&1 || true
for n in 5 6 7; do wine reg add "$key" /v "Serial$n" /t REG_SZ /d "COM$n" /f >/dev/null; done

status=0
# check NAME PATTERN COMMAND...: the program succeeds and prints PATTERN.
# OVRIN_WINE_ONLY=REGEX runs only the checks whose name matches.
check() {
  local name=$1 pattern=$2 output
  shift 2
  [[ $name =~ ${OVRIN_WINE_ONLY:-.} ]] || return 0
  if output=$("$@" 2>&1) && grep -q -- "$pattern" <<<"$output"; then
    echo "$name: ok"
    [ -z "${OVRIN_WINE_VERBOSE:-}" ] || printf '%s\n' "$output"
  else
    printf '%s: FAILED\n%s\n' "$name" "$output"
    status=1
  fi
}
check dll_test "dll_test: 0 failed" wine "$windows/dll_test.exe" COM7
check platform_test "platform_test: 0 failed" wine "$windows/platform_test.exe" COM7 COM5 '\\.\COM16'
check dll_replies_test "dll_replies_test: 0 failed" wine "$windows/dll_replies_test.exe"
check registry_test "registry_test: 0 failed" wine "$windows/registry_test.exe"
wine reg delete 'HKCU\Software\Quenmark\OVRIN' /f >/dev/null 2>&1 || true
check "ovrin.exe measure" "kind 6  auxDigit 0  value1 12345" wine "$windows/ovrin.exe" measure --count 2
check "ovrin.exe error" "252: Temperature too high" wine "$windows/ovrin.exe" error 252
check c_host "c_host: 0 failed" wine "$windows/c_host.exe"
check win32_host "kind 6, value 12345" wine "$windows/win32_host.exe"
check queue_host "distance 12345" wine "$windows/queue_host.exe" 2
check dynamic_host "dynamic_host: 0 failed" wine "$windows/dynamic_host.exe"
# The Delphi unit under Free Pascal for Windows x64 (tests/delphi): built
# here, its RTL once into a cache outside the tree.
delphi=""
if ! [[ delphi =~ ${OVRIN_WINE_ONLY:-.} ]]; then :
elif ! command -v fpc >/dev/null; then
  skipped "the Delphi unit under Wine" "needs fpc (fp-compiler) and fpc-source: scripts/install-deps.sh installs them"
elif ! objdump -f "$windows/Ovrin70.dll" | grep -q 'x86-64'; then
  skipped "the Delphi unit under 32-bit Wine" "Debian's Free Pascal has no i386 compiler; only its x86_64 one cross-compiles"
elif "$(dirname "$0")/../delphi/windows.sh" "$work/delphi" >"$work/fpc.log" 2>&1; then
  delphi=$work/delphi
  cp "$windows/Ovrin70.dll" "$delphi/"
else
  printf 'delphi: the Windows build FAILED\n%s\n' "$(cat "$work/fpc.log")"
  status=1
fi
[ -z "$delphi" ] || check delphi_example "distance 12345 (31..00+00012345)" wine "$delphi/OvrinExample.exe"
check c_readings "1000 distances, 1001 readings in the callback, 0 failed" \
  wine "$windows/c_readings.exe" 1000 '\\.\COM12'
[ -z "$delphi" ] || check delphi_meter_test "meter_test: 0 failed" wine "$delphi/meter_test.exe" '\\.\COM12'

# The command as a tool left running: a CSV file appended to by two runs,
# and monitor --reconnect that waits for a meter to come.
csv=$work/readings.csv
for _ in 1 2; do
  wine "$windows/ovrin.exe" measure --port COM7 --count 2 --format csv --output "$(winepath -w "$csv")" \
    >/dev/null 2>&1 || true
done
if [ "$(grep -c '^seq,time,kind,auxDigit,value1,value2,line' "$csv")" = 1 ] &&
   [ "$(grep -c '^[12],20[0-9-]*T[0-9:.]*Z,6,0,12345,0,31..00+00012345' "$csv")" = 4 ]; then
  echo "ovrin.exe --format csv --output: ok"
else
  printf 'ovrin.exe --format csv --output: FAILED\n%s\n' "$(cat "$csv" 2>&1)"
  status=1
fi
if [[ ovrin.exe-reconnect =~ ${OVRIN_WINE_ONLY:-.} ]]; then
  wine reg delete "$key" /va /f >/dev/null 2>&1 || true  # only the port given: no other meter to find
  monitor=$work/monitor.jsonl
  wine "$windows/ovrin.exe" monitor --reconnect --port '\\.\COM19' --json --output "$(winepath -w "$monitor")" \
    >/dev/null 2>"$work/monitor.err" &
  ovrin=$!
  sleep 3  # searching, backing off: COM19 is not there yet
  start_sim COM19 --burst 2 --value 7 --step 1 --baud 0
  for _ in $(seq 100); do grep -q '"value1":8' "$monitor" 2>/dev/null && break; sleep 0.1; done
  kill "$ovrin" 2>/dev/null || true
  wait "$ovrin" 2>/dev/null || true
  if grep -q '"event":"searching"' "$monitor" && grep -qF '"port":"\\\\.\\COM19"}' "$monitor" &&
     grep -q '"seq":3,.*"value1":8' "$monitor" && [ "$(grep -c '"event":"searching"' "$monitor")" -ge 2 ]; then
    echo "ovrin.exe monitor --reconnect: ok"
  else
    printf 'ovrin.exe monitor --reconnect: FAILED\n%s\n%s\n' "$(cat "$monitor" 2>&1)" "$(cat "$work/monitor.err")"
    status=1
  fi
  for n in 5 6 7; do wine reg add "$key" /v "Serial$n" /t REG_SZ /d "COM$n" /f >/dev/null; done
fi

# ovrin.exe serve answers curl from Linux over loopback: the page's API, a
# Measure, and a foreign Host refused.
if [[ ovrin.exe-serve =~ ${OVRIN_WINE_ONLY:-.} ]]; then
  served=$work/serve.out
  wine "$windows/ovrin.exe" serve --port COM7 --listen 127.0.0.1:0 >"$served" 2>"$work/serve.err" &
  ovrin=$!
  url=""
  for _ in $(seq 300); do url=$(grep -o 'http://[0-9.:]*/' "$served" 2>/dev/null) && break; sleep 0.1; done
  for _ in $(seq 100); do curl -s "${url}api/readings" | grep -q '"state":"connected"' && break; sleep 0.1; done
  measured=$(curl -s -X POST -H "Origin: ${url%/}" -H 'Content-Type: application/json' -d '{}' "${url}api/measure")
  for _ in $(seq 100); do
    readings=$(curl -s "${url}api/readings?after=1")
    grep -q '"value1":12345' <<<"$readings" && break
    sleep 0.1
  done
  refused=$(curl -s -o /dev/null -w '%{http_code}' -H 'Host: attacker.example' "$url")
  kill "$ovrin" 2>/dev/null || true
  wait "$ovrin" 2>/dev/null || true
  # Beyond loopback: the printed link's token, its cookie or a Bearer header.
  # The token file is the user's alone: Wine shows Windows' rules as the
  # file's mode, where other users get nothing.
  wine "$windows/ovrin.exe" serve --port COM7 --listen 0.0.0.0:0 --token-file "$(winepath -w "$work/token")" \
    >"$served.lan" 2>/dev/null &
  ovrin=$!
  link=""
  for _ in $(seq 300); do link=$(grep -o 'http://[^ ]*token=[0-9a-f]*' "$served.lan" 2>/dev/null) && break; sleep 0.1; done
  lan="http://127.0.0.1:$(sed 's|^http://[^/]*:\([0-9]*\)/.*|\1|' <<<"${link%%$'\n'*}")/"
  token=${link##*token=}
  tokened=$(curl -s -o /dev/null -w '%{http_code} %{redirect_url}' "${lan}?token=$token")
  lan_refused=$(curl -s -o /dev/null -w '%{http_code}' -H 'Host: tablet.example' "$lan")
  bearer=$(curl -s -o /dev/null -w '%{http_code}' -H "Authorization: Bearer $token" -H 'Host: tablet.example' "$lan")
  kill "$ovrin" 2>/dev/null || true
  wait "$ovrin" 2>/dev/null || true
  private=$(stat -c %a "$work/token" 2>&1)
  if [ "$tokened" != "303 ${lan}" ] || [ "$lan_refused" != 401 ] || [ "$bearer" != 200 ] || [[ $private != *0 ]] ||
     [ "$(cat "$work/token")" != "$token" ]; then
    printf 'ovrin.exe serve beyond loopback: FAILED\n%s\n%s %s %s, token file %s\n' "$(cat "$served.lan")" "$tokened" \
      "$lan_refused" "$bearer" "$private"
    status=1
  else
    echo "ovrin.exe serve beyond loopback: ok"
  fi
  if [ "$measured" = '{"sent":true}' ] && grep -q '^{"state".*"readings":\[{"seq":2,.*"value1":12345' <<<"$readings" &&
     [ "$refused" = 403 ]; then
    echo "ovrin.exe serve: ok"
  else
    printf 'ovrin.exe serve: FAILED\n%s\n%s\n%s\n%s\n' "$(cat "$served" "$work/serve.err")" "$measured" "$readings" \
      "$refused"
    status=1
  fi
fi

# Silent COM ports listed before the meter: the classic class (win32_host.exe,
# through OvrinComm::Open) gives each its 500 ms; ovrin.exe find probes them
# all at once and takes no longer than the meter alone. Two silent ports, so
# that the classic search asks nothing.
if [[ ovrin.exe-find-time =~ ${OVRIN_WINE_ONLY:-.} ]]; then
  start_sim COM21 --silent
  start_sim COM22 --silent
  # A fresh meter as COM7: the checks before leave the first one's line busy
  # with what they asked of it.
  start_sim COM7
  wine reg delete "$key" /va /f >/dev/null 2>&1 || true
  for n in 21 22 7; do wine reg add "$key" /v "Serial$n" /t REG_SZ /d "COM$n" /f >/dev/null; done
  timed() {  # timed COMMAND...: seconds taken, with nothing remembered before
    wine reg delete 'HKCU\Software\Quenmark\OVRIN' /f >/dev/null 2>&1 || true
    local start=$(date +%s.%N)
    "$@" >"$work/timed.out" 2>&1 || true
    echo "$(date +%s.%N) - $start" | bc
  }
  classic=$(timed wine "$windows/win32_host.exe")
  grep -q 'kind 6, value 12345' "$work/timed.out" || classic=failed
  concurrent=$(timed wine "$windows/ovrin.exe" find)
  grep -q 'COM7' "$work/timed.out" || concurrent=failed
  if [ "$classic" != failed ] && [ "$concurrent" != failed ] && [ "$(echo "$classic - $concurrent > 0.7" | bc)" = 1 ]; then
    echo "ovrin.exe find against the classic search: ok (${concurrent} s against ${classic} s)"
  else
    printf 'ovrin.exe find against the classic search: FAILED\nclassic %s s, concurrent %s s\n%s\n' \
      "$classic" "$concurrent" "$(cat "$work/timed.out")"
    status=1
  fi
  wine reg delete "$key" /va /f >/dev/null 2>&1 || true
  for n in 5 6 7; do wine reg add "$key" /v "Serial$n" /t REG_SZ /d "COM$n" /f >/dev/null; done
fi

# Which port is which: devices of the Ports class in the registry's Enum tree,
# as Bluetooth and USB drivers make them, are what SetupAPI lists. COM7 (the
# meter) is an outgoing Bluetooth port, COM5 an incoming one, COM6 a USB
# adapter with the name a French Windows gives it; ports --json tells them
# apart, and find still finds the meter. On a console (a pseudo-terminal
# here), ports shows that name as it is, through WriteConsoleW.
if [[ ovrin.exe-ports =~ ${OVRIN_WINE_ONLY:-.} ]]; then
  enum='HKLM\System\CurrentControlSet\Enum'
  spp='{00001101-0000-1000-8000-00805f9b34fb}'
  add_port() {  # add_port INSTANCE PORT FRIENDLY-NAME HARDWARE-ID [MANUFACTURER]
    wine reg add "$enum\\$1" /v ClassGUID /t REG_SZ /d '{4D36E978-E325-11CE-BFC1-08002BE10318}' /f >/dev/null
    wine reg add "$enum\\$1" /v Class /t REG_SZ /d Ports /f >/dev/null
    wine reg add "$enum\\$1" /v FriendlyName /t REG_SZ /d "$3" /f >/dev/null
    wine reg add "$enum\\$1" /v HardwareID /t REG_MULTI_SZ /d "$4" /f >/dev/null
    [ -z "${5:-}" ] || wine reg add "$enum\\$1" /v Mfg /t REG_SZ /d "$5" /f >/dev/null
    wine reg add "$enum\\$1\\Device Parameters" /v PortName /t REG_SZ /d "$2" /f >/dev/null
  }
  add_port "BTHENUM\\${spp}_LOCALMFG&0002\\7&1e2e9e5b&0&001122AABBCC_C00000000" COM7 \
    'Standard Serial over Bluetooth link (COM7)' "BTHENUM\\${spp}_LOCALMFG&0002"
  add_port "BTHENUM\\${spp}_LOCALMFG&0000\\7&1e2e9e5b&0&000000000000_00000001" COM5 \
    'Standard Serial over Bluetooth link (COM5)' "BTHENUM\\${spp}_LOCALMFG&0000"
  add_port 'USB\VID_0403&PID_6001\A12345' COM6 'Port série USB (COM6)' 'USB\VID_0403&PID_6001&REV_0600' FTDI
  listed=$(wine "$windows/ovrin.exe" ports --json 2>&1 || true)
  shown=$(script -qec "$WINE_LOADER $windows/ovrin.exe ports" /dev/null 2>&1 || true)
  # Each port's identity, one row each (fields not named must be absent).
  # The incoming Bluetooth port (COM5) is passed over, and the search says so.
  found=$(wine "$windows/ovrin.exe" find --verbose 2>&1 || true)
  if /usr/bin/python3 -c '
import json, sys
ports = {p["port"].replace("\\\\.\\", ""): p for p in json.loads(sys.stdin.read())}
wanted = {
    "COM7": {"kind": "bluetooth-outgoing", "bluetoothAddress": "00:11:22:AA:BB:CC",
             "description": "Standard Serial over Bluetooth link (COM7)"},
    "COM5": {"kind": "bluetooth-incoming", "description": "Standard Serial over Bluetooth link (COM5)"},
    "COM6": {"kind": "usb", "vid": "0403", "pid": "6001", "serialNumber": "A12345", "manufacturer": "FTDI",
             "description": "Port série USB (COM6)", "hardwareId": "USB\\VID_0403&PID_6001&REV_0600"},
}
identity = ("kind", "bluetoothAddress", "vid", "pid", "serialNumber", "manufacturer")
for port, fields in wanted.items():
    got = {key: ports[port][key] for key in identity + ("description",) if key in ports[port]}
    want = {key: value for key, value in fields.items() if key != "hardwareId"}
    assert got == want, (port, got)
assert ports["COM6"]["hardwareId"] == wanted["COM6"]["hardwareId"], ports["COM6"]
' <<<"$listed" && grep -q '^COM7' <<<"$found" &&
     grep -q 'COM5 .*: incoming Bluetooth port, which never reaches a meter: not probed' <<<"$found" && grep -q 'COM6 .* Port série USB (COM6)' <<<"$shown"; then
    echo "ovrin.exe ports: ok"
    [ -z "${OVRIN_WINE_VERBOSE:-}" ] || printf '%s\n' "$listed"
  else
    printf 'ovrin.exe ports: FAILED\n%s\nfind: %s\non a console: %s\n' "$listed" "$found" "$shown"
    status=1
  fi
fi

# ovrin.exe type into a real Win32 window under Xvfb: the focused EDIT control
# of type_target.exe receives the burst, formatted and in order, each reading
# followed by Tab, once Shift, held on the X keyboard when it arrives, is let
# go (nothing before); F9 measures one more; a second ovrin.exe cannot take
# F9 and says so with status 8.
if [[ ovrin.exe-type =~ ${OVRIN_WINE_ONLY:-.} ]] && { [ -z "${DISPLAY:-}" ] || ! command -v xdotool >/dev/null; }; then
  skipped "ovrin.exe type under $(basename "$WINE_LOADER")" "needs Xvfb and xdotool"
elif [[ ovrin.exe-type =~ ${OVRIN_WINE_ONLY:-.} ]]; then
  start_sim COM20 --burst 3 --value 1234 --step 1111 --baud 0
  field=$work/field.txt
  wine "$windows/type_target.exe" "$(winepath -w "$field")" >/dev/null 2>&1 &
  target=$!
  for _ in $(seq 200); do [ -f "$field" ] && break; sleep 0.05; done
  xdotool search --name "type target" windowfocus --sync keydown shift
  wine "$windows/ovrin.exe" type --port '\\.\COM20' --scale 0.001 --decimals 3 --then tab --measure-key F9 \
    >/dev/null 2>"$work/type.err" &
  ovrin=$!
  for _ in $(seq 300); do grep -q 'waits until the modifier keys' "$work/type.err" && break; sleep 0.1; done
  held=$(cat "$field")
  xdotool keyup shift
  typed() {  # typed TEXT: waits up to 30 s for the field to hold TEXT
    for _ in $(seq 300); do [ "$(cat "$field")" = "$1" ] && return 0; sleep 0.1; done
    return 1
  }
  burst=$(printf '1.234\t2.345\t3.456\t')
  taken=0
  if typed "$burst"; then
    wine "$windows/ovrin.exe" type --port '\\.\COM20' --measure-key F9 >/dev/null 2>"$work/taken.err" || taken=$?
    xdotool search --name "type target" windowfocus --sync key F9
  fi
  typed "$burst$(printf '4.567\t')" || true
  kill "$ovrin" "$target" 2>/dev/null || true
  wait "$ovrin" "$target" 2>/dev/null || true
  if [ -z "$held" ] && [ "$(cat "$field")" = "$burst$(printf '4.567\t')" ] && [ "$taken" = 8 ] &&
     grep -q 'F9 is taken' "$work/taken.err"; then
    echo "ovrin.exe type: ok"
  else
    printf 'ovrin.exe type: FAILED\nwhile Shift was held: %q; the field holds: %q; a second F9: status %s, %s\n%s\n' \
      "$held" "$(cat "$field")" "$taken" \
      "$(cat "$work/taken.err" 2>/dev/null)" "$(cat "$work/type.err")"
    status=1
  fi
fi

exit $status
