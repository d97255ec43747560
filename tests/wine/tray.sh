#!/usr/bin/env bash
# ovrin-tray.exe under Wine, on Wine's own desktop (explorer.exe, whose
# notification area takes the icon) on Xvfb, with a simulated meter on a
# pseudo-terminal as COM5 and an EDIT window of the test's own with the
# focus. Usage: tray.sh NATIVE_BUILD_DIR WINDOWS_BUILD_DIR [SCREENSHOT_DIR]
set -euo pipefail
native=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
shots=${3:-}
. "$(dirname "$0")/loader.sh"
if ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null; then
  skipped "ovrin-tray.exe under Wine" "needs Xvfb and xdotool"
  exit 0
fi
use_wine "$windows/Ovrin70.dll"
work=$(mktemp -d /tmp/ovrin-tray-XXXXXX)
# A home of its own: Wine's Documents folder is a link into it.
export HOME=$work WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
export LD_PRELOAD="$native/shim/\$LIB/libtiocm_shim.so"
pids=()
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  kill "${pids[@]}" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
Xvfb -displayfd 1 -nolisten tcp -screen 0 1024x768x24 >"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n 1 "$work/display")"

# meter: a simulated meter on a new terminal, linked as COM5 (the one before
# it, if any, hung up first).
meter() {
  [ -z "${sim:-}" ] || { kill "$sim"; wait "$sim" 2>/dev/null || true; }
  "$native/ovrin-sim" --value 1234 --step 1111 >"$work/sim.out" 2>/dev/null &
  sim=$!
  pids+=($sim)
  for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.05; done
  ln -sfn "$(head -n 1 "$work/sim.out")" "$WINEPREFIX/dosdevices/com5"
  : >"$work/sim.out"
}
mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1
wineboot -i >/dev/null 2>&1
# One desktop of Wine's for every program (the taskbar and its notification
# area in it), and a German decimal separator.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null
wine reg add 'HKCU\Control Panel\International' /v sDecimal /d , /f >/dev/null
# The desktop is made as the session starts: a new session, the registry kept.
wineserver -k; wineserver -w || true
wineserver -p >/dev/null 2>&1
wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v Serial5 /d COM5 /f >/dev/null
meter

status=0
fail() {
  printf 'ovrin-tray.exe: %s: FAILED\n' "$1"
  [ -s "$work/tray.err" ] && sed 's/^/  /' "$work/tray.err"
  status=1
}
# await FILE PATTERN [LINES]: up to 20 s for FILE (past its first LINES) to hold PATTERN.
await() {
  for _ in $(seq 200); do tail -n +"$((${3:-0} + 1))" "$1" | grep -q -- "$2" && return 0; sleep 0.1; done
  return 1
}
tray() {  # tray ARGS...: starts ovrin-tray.exe, its messages in tray.err
  : >"$work/tray.err"
  wine "$windows/ovrin-tray.exe" "$@" 2>"$work/tray.err" &
  tray_pid=$!
  pids+=($tray_pid)
  await "$work/tray.err" "connected COM5"
}
field=$work/field.txt
wine "$windows/type_target.exe" "$(winepath -w "$field")" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 200); do [ -f "$field" ] && break; sleep 0.05; done

probe() { wine "$windows/tray_probe.exe" "$@"; }
# shot NAME CLASS: the window of CLASS, once drawn, as SCREENSHOT_DIR/NAME.png.
shot() {
  probe shot "$(winepath -w "$work/$1.bmp")" "$2" || return 1
  [ -z "$shots" ] || { mkdir -p "$shots" && /usr/bin/python3 "$(dirname "$0")/bmp2png.py" "$work/$1.bmp" "$shots/$1.png"; }
}
# typed TEXT: up to 20 s for the target to hold TEXT.
typed() {
  for _ in $(seq 200); do [ "$(cat "$field")" = "$1" ] && return 0; sleep 0.1; done
  printf 'the target holds %q, not %q\n' "$(cat "$field")" "$1"
  return 1
}
# desktop ARGS...: xdotool ARGS on Wine's desktop window, through XTEST as
# the user's keyboard and mouse.
desktop() {
  xdotool search --name 'Wine desktop' windowfocus --sync
  xdotool "$@"
}
mouse_up=514 menu_up=517  # WM_LBUTTONUP, WM_RBUTTONUP: what the notification area sends
run='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'

# The command line over the settings (none kept yet): 0.001, 3 decimals, Tab;
# the separator the locale's. The key, --measure and a click on the icon.
tray --scale 0.001 --decimals 3 --then tab || fail "starting"
grep -q "the icon is in the notification area" "$work/tray.err" || fail "the icon registered"
desktop key F9
typed "$(printf '1,234\t')" || fail "the measure key"
wine "$windows/ovrin-tray.exe" --measure || fail "--measure: status $?"
typed "$(printf '1,234\t2,345\t')" || fail "--measure"
probe icon $mouse_up
typed "$(printf '1,234\t2,345\t3,456\t')" || fail "a click on the icon"

# The menu, and Settings from it: scale 0.01, 1 decimal, kept in the registry.
desktop mousemove 860 740
probe icon $menu_up
shot menu '#32768' || fail "the menu"
probe choose s || fail "choosing Settings…"
probe shown '#32770' || fail "the Settings dialog"
probe type $'0.01\t1'
shot settings '#32770'
probe type $'\n'
kept() { wine reg query 'HKCU\Software\Ovrin70\Tray' /v "$1" 2>/dev/null | grep -q "REG_SZ *$2"; }
for _ in $(seq 50); do kept Decimals 1 && break; sleep 0.1; done
kept Scale 0.01 && kept Decimals 1 && kept Then enter || fail "the settings kept in the registry"

# A second start opens the Readings window of the first, and ends.
wine "$windows/ovrin-tray.exe" || fail "a second start: status $?"
probe shown Ovrin70Readings || fail "the Readings window"
shot readings Ovrin70Readings
probe press Ovrin70Readings '&Copy' || fail "pressing Copy"
probe clipboard >"$work/clipboard" || true
grep -q $'^20[0-9-]*T[0-9:.]*Z\t2,345\t31..00+00002345\r' "$work/clipboard" || fail "Copy: $(cat -A "$work/clipboard")"

# Typing off: the reading is kept (in the log), not typed. Start with Windows.
from_menu() { probe icon $menu_up && probe choose "$1"; }
csv=$WINEPREFIX/drive_c/users/$(id -un)/Documents/Ovrin70/readings.csv
rows=$(wc -l <"$csv")
from_menu t
wine "$windows/ovrin-tray.exe" --measure
for _ in $(seq 100); do [ "$(wc -l <"$csv")" -gt "$rows" ] && break; sleep 0.1; done
grep -q ',4567,' "$csv" && typed "$(printf '1,234\t2,345\t3,456\t')" || fail "typing off"
from_menu t
from_menu w
for _ in $(seq 50); do wine reg query "$run" /v 'Ovrin70 Tray' >"$work/run" 2>&1 && break; sleep 0.1; done
grep -q 'REG_SZ *"[A-Z]:\\.*\\ovrin-tray.exe"' "$work/run" || fail "Start with Windows: $(cat "$work/run")"
# The live page of ovrin serve, from this process: its readings and state.
from_menu l
await "$work/tray.err" "the live page is at http://127.0.0.1:" || fail "Open the live page"
page=$(grep -o 'http://127.0.0.1:[0-9]*/' "$work/tray.err" | head -n 1)
curl -s "${page}api/readings" | grep -q '"state":"connected".*"value1":4567' || fail "the live page's readings"
# Explorer started again: the icon comes back.
probe broadcast TaskbarCreated || fail "TaskbarCreated sent"
await "$work/tray.err" "the icon is in the notification area" 3 || fail "TaskbarCreated"

# The meter's terminal hung up, and a meter there again. Wine tells no
# reader of a hang-up: the measure command that cannot be written does.
lines=$(wc -l <"$work/tray.err")
meter
wine "$windows/ovrin-tray.exe" --measure
await "$work/tray.err" "reconnecting" "$lines" || fail "reconnecting after a hang-up"
lines=$(grep -n reconnecting "$work/tray.err" | tail -n 1 | cut -d: -f1 || true)
await "$work/tray.err" "connected COM5" "$lines" || fail "connected again"

# --quit ends it (the icon removed, the log synced); then there is none to ask.
wine "$windows/ovrin-tray.exe" --quit || fail "--quit: status $?"
wait "$tray_pid" 2>/dev/null || true
grep -q "ovrin-tray: quit" "$work/tray.err" || fail "--quit"
if wine "$windows/ovrin-tray.exe" --measure 2>/dev/null; then fail "--measure with none running"; fi

# A wrong command line, or a wrong setting, is shown and ends it with status 2.
wrong() {  # wrong WHAT ARGS...: ovrin-tray.exe ARGS, its box closed with Enter
  local what=$1
  shift
  wine "$windows/ovrin-tray.exe" "$@" 2>"$work/wrong.err" &
  local started=$!
  probe shown '#32770' && probe type $'\n'
  wait "$started" && fail "$what: status 0" || [ $? = 2 ] || fail "$what: status"
}
wrong "a wrong command line" --decimals 12
grep -q -- "--decimals: Value 12 not in range" "$work/wrong.err" || fail "a wrong command line: $(cat "$work/wrong.err")"
wine reg add 'HKCU\Software\Ovrin70\Tray' /v Then /d backspace /f >/dev/null
wrong "a wrong setting"
grep -qF 'the settings in HKEY_CURRENT_USER\Software\Ovrin70\Tray are wrong: ' "$work/wrong.err" &&
  grep -q -- "--then: backspace not in" "$work/wrong.err" || fail "a wrong setting: $(cat "$work/wrong.err")"
wine reg add 'HKCU\Software\Ovrin70\Tray' /v Then /d enter /f >/dev/null

# The settings kept, the command line over them: 0.01 and Enter from the
# registry, 2 decimals from the command line. F9 held by another program and
# a log that cannot be written are told, and the program goes on.
probe hold 9 >"$work/held" &
pids+=($!)
await "$work/held" held
tray --decimals 2 --output 'C:\no\such\folder\readings.csv' || fail "starting again"
grep -q "the measure key F9 is taken by another program" "$work/tray.err" || fail "F9 taken"
grep -qF 'log: cannot write to "C:\no\such\folder\readings.csv"' "$work/tray.err" || fail "the log not written"
probe front "type target"
wine "$windows/ovrin-tray.exe" --measure
typed "$(printf '1,234\t2,345\t3,456\t12,34\r\n')" || fail "the settings across a restart"
wine "$windows/ovrin-tray.exe" --quit || fail "--quit again: status $?"

# The log holds every reading, as monitor --format csv writes them.
if [ "$(head -n 1 "$csv")" != "seq,time,kind,auxDigit,value1,value2,line" ] ||
   [ "$(grep -c '^[0-9]*,20[0-9-]*T[0-9:.]*Z,0,0,0,0,?$' "$csv")" != 2 ] ||  # the answer to the start-up command
   [ "$(grep '^[0-9]*,20[0-9-]*T[0-9:.]*Z,6,' "$csv" | cut -d, -f5 | tr '\n' ' ')" != "1234 2345 3456 4567 " ]; then
  fail "the CSV log"
  cat "$csv"
fi
[ "$status" = 0 ] && echo "ovrin-tray.exe: ok"
exit $status
