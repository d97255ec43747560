#!/usr/bin/env bash
# The Windows installer, Ovrin70-VERSION-setup.exe in DIST, as a person takes it:
#  - as a file (check_installer.py): an x86 program with the icon and the
#    version, holding the ZIP's x64 and x86 programs and DLL;
#  - made again from the ZIP's files, later, with other file times (its
#    own and the staged copies'), in another time zone: the same bytes;
#  - under 64-bit Wine, on Wine's desktop on Xvfb, a simulated meter as COM5:
#    a silent install (its files, each of the prefix's word size, the
#    uninstall entry, the shortcut, the Run value), whose ovrin.exe measures
#    and whose ovrin-tray.exe starts, logs a reading and answers --quit; a
#    silent uninstall, which keeps the settings and the log; an upgrade over
#    an older installer's copy while its tray runs, which ends it, replaces
#    the files and keeps the settings, the log and the choice of Start with
#    Windows; a silent install over a running ovrin.exe, which fails and
#    changes nothing; /D=
#    into another folder with a space in it, which takes the first copy and
#    its tray away; an uninstall while the tray runs, with /REMOVEDATA (the
#    box ticked), which leaves nothing; and in a 32-bit prefix, the x86 files.
# Where 32-bit programs cannot run, the same installer built as a 64-bit
# program (-DTARGET=amd64-unicode) from the same files runs instead.
# Usage: installer.sh DIST NATIVE_BUILD_DIR
set -euo pipefail
dist=$(cd "$1" && pwd)
native=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
make_installer=$here/../../cmake/windows_installer.sh
. "$here/../wine/loader.sh"
version=$(sed -n 's/^project(Ovrin70 VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")
setup=$dist/Ovrin70-$version-setup.exe
work=$(mktemp -d /tmp/ovrin-installer-XXXXXX)
pids=()
cleanup() {
  for prefix in "$work/prefix" "$work/prefix32"; do
    [ ! -d "$prefix" ] || WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
  done
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
status=0
fail() { echo "FAILED: installer: $*"; status=1; }

unzip -q "$dist/Ovrin70-$version-windows.zip" -d "$work/zip"
unpacked=$work/zip/Ovrin70-$version-windows
if command -v 7zz >/dev/null; then
  7zz x -aou -o"$work/extracted" "$setup" >/dev/null || fail "7-Zip cannot unpack $setup"
  /usr/bin/python3 "$here/check_installer.py" "$setup" "$version" "$work/extracted" "$unpacked" \
    "$here/../../tools/ovrin-tray/ovrin-tray.ico" || status=1
else
  skipped "release packages: the installer's payload by machine type" "needs 7-Zip (7zip)"
fi
grep -q "^Download \`Ovrin70-$version-setup.exe\` and run it" "$here/../../README.md" ||
  fail "README.md's Windows section does not begin with Ovrin70-$version-setup.exe"
find "$unpacked" -exec touch {} +
SOURCE_DATE_EPOCH=$(date +%s) TZ=Pacific/Kiritimati "$make_installer" "$unpacked" "$version" "$work/again/Ovrin70-$version-setup.exe" &&
  cmp -s "$setup" "$work/again/Ovrin70-$version-setup.exe" && echo "installer: made again later from the ZIP's files: the same bytes" ||
  fail "made again from the same files, it differs"

if ! command -v Xvfb >/dev/null; then
  skipped "release packages: the installer under Wine" "needs Xvfb"
  exit $status
fi
no32=$(wine32_missing "$native")
target=()
if [ -n "$no32" ]; then
  skipped "release packages: the x86 installer under Wine (its 64-bit build from the same files runs)" "$no32"
  target=(-DTARGET=amd64-unicode)
  setup=$work/setup64/Ovrin70-$version-setup.exe
  "$make_installer" "$unpacked" "$version" "$setup" "${target[@]}"
fi
# The older version: every file of it differs from this one's.
cp -r "$unpacked" "$work/old"
for file in "$work"/old/*/bin/* "$work/old/README.md"; do printf '\nan older version\n' >>"$file"; done
"$make_installer" "$work/old" 0.0.1 "$work/old/Ovrin70-0.0.1-setup.exe" "${target[@]}"

export HOME=$work/home WINEPREFIX=$work/prefix WINEDEBUG=-all LC_ALL=C.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
export LD_PRELOAD="$native/shim/\$LIB/libtiocm_shim.so"
mkdir -p "$HOME" "$WINEPREFIX"
use_wine "$unpacked/x64/bin/Ovrin70.dll"
Xvfb -displayfd 1 -nolisten tcp -screen 0 1024x768x24 >"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n 1 "$work/display")"
wineserver -p >/dev/null 2>&1
wineboot -i >/dev/null 2>&1
# Wine's desktop, whose notification area takes the tray's icon, is made
# as the session starts: a new session, the registry kept.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null
wineserver -k
wineserver -w || true
wineserver -p >/dev/null 2>&1
wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v Serial5 /d COM5 /f >/dev/null
"$native/ovrin-sim" >"$work/sim.out" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.05; done
ln -sfn "$(head -n 1 "$work/sim.out")" "$WINEPREFIX/dosdevices/com5"

paths() {  # the default folder, the shortcut and the log of $WINEPREFIX
  local user=$WINEPREFIX/drive_c/users/$(id -un)
  folder=$user/AppData/Local/Programs/Ovrin70 shortcut="$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Ovrin70.lnk"
  csv=$user/Documents/Ovrin70/readings.csv
}
paths
arch=x64 format=pei-x86-64  # the prefix's word size
entry='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Ovrin70'
run='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
settings='HKCU\Software\Ovrin70\Tray'
value() {  # value KEY NAME: the data of a registry value, as Wine's reg shows it
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
has_key() { wine reg query "$1" >/dev/null 2>&1; }
# run_setup PROGRAM ARGS...: an installer or uninstaller run silently; a box that
# waits for an answer nobody gives ends it after 2 minutes.
run_setup() { timeout 120 "$WINE_LOADER" "$@" 2>>"$work/wine.err"; }

# installed FOLDER OLD: FOLDER holds this version's files (OLD: the older one's) of $arch, registered.
installed() {
  local dir=$1 from=$unpacked windows name
  [ -z "${2:-}" ] || from=$work/old
  windows=$(winepath -w "$dir")
  [ "$(ls "$dir" | tr '\n' ' ')" = "LICENSE.txt Ovrin70.dll README.txt THIRD-PARTY.txt ovrin-tray.exe ovrin.exe uninstall.exe " ] ||
    fail "installed: $(ls "$dir" | tr '\n' ' ')"
  for name in ovrin-tray.exe ovrin.exe Ovrin70.dll; do
    objdump -f "$dir/$name" | grep "file format $format" >/dev/null || fail "$name is not an $arch program"
    cmp -s "$dir/$name" "$from/$arch/bin/$name" || fail "$name is not the $arch $name of ${2:-this version}"
  done
  cmp -s "$dir/README.txt" <(sed 's/$/\r/' "$from/README.md") || fail "README.txt is not ${2:-this version}'s"
  for name in DisplayName:Ovrin70 DisplayVersion:"${2:-$version}" Publisher:Ovrin70 \
              DisplayIcon:"$windows\\ovrin-tray.exe,0" InstallLocation:"$windows" \
              UninstallString:"\"$windows\\uninstall.exe\"" QuietUninstallString:"\"$windows\\uninstall.exe\" /S" \
              NoModify:0x1 NoRepair:0x1; do
    [ "$(value "$entry" "${name%%:*}")" = "${name#*:}" ] || fail "the uninstall entry's ${name%%:*}: $(value "$entry" "${name%%:*}")"
  done
  local size=$(($(value "$entry" EstimatedSize))) actual
  actual=$(du -sk --apparent-size "$dir" | cut -f1)
  [ "$size" -gt $((actual / 2)) ] && [ "$size" -le $((actual * 2)) ] || fail "EstimatedSize $size KB, the folder $actual KB"
  [ -f "$shortcut" ] && { strings -a "$shortcut"; strings -a -el "$shortcut"; } | grep -xF "$windows\\ovrin-tray.exe" >/dev/null ||
    fail "the shortcut"
}
# uninstall FOLDER ARGS...: its uninstaller /S, waited for: it goes on from a
# copy of itself, and is done when the entry (with /REMOVEDATA, the log) is gone.
uninstall() {
  local dir=$1
  shift
  run_setup "$dir/uninstall.exe" /S "$@" || fail "uninstall.exe /S $*: status $?"
  for _ in $(seq 150); do
    ! has_key "$entry" && { [ "$*" != /REMOVEDATA ] || [ ! -e "$csv" ]; } && break
    sleep 0.2
  done
}
# left WHAT...: what of it is still there: the folder, the shortcut, the Run
# value, the uninstall entry, the settings, the log.
left() {
  local what=()
  [ ! -e "$folder" ] || what+=(folder)
  [ ! -e "$shortcut" ] || what+=(shortcut)
  [ -z "$(value "$run" 'Ovrin70 Tray')" ] || what+=(run)
  ! has_key "$entry" || what+=(entry)
  ! has_key 'HKCU\Software\Ovrin70' || what+=(settings)
  [ ! -e "$(dirname "$csv")" ] || what+=(log)
  echo "${what[*]}"
}
ended() {  # ended: up to 30 s for the tray to have quit
  for _ in $(seq 300); do grep -q "ovrin-tray: quit" "$work/tray.err" && return 0; sleep 0.1; done
  return 1
}
tray() {  # tray FOLDER: its ovrin-tray.exe started, connected to the meter
  : >"$work/tray.err"
  wine "$1/ovrin-tray.exe" 2>"$work/tray.err" &
  tray_pid=$!
  pids+=($tray_pid)
  for _ in $(seq 200); do grep -q "connected COM5" "$work/tray.err" && return 0; sleep 0.1; done
  return 1
}

# A silent install, and its programs at work.
run_setup "$setup" /S || fail "setup.exe /S: status $?"
installed "$folder"
[ "$(value "$run" 'Ovrin70 Tray')" = "\"$(winepath -w "$folder")\\ovrin-tray.exe\"" ] ||
  fail "the Run value: $(value "$run" 'Ovrin70 Tray')"
measured=$(wine "$folder/ovrin.exe" measure --port COM5 --count 1 2>&1) && [[ $measured == *"value1 12345"* ]] ||
  fail "the installed ovrin.exe: $measured"
if tray "$folder"; then
  wine "$folder/ovrin-tray.exe" --measure || fail "the installed ovrin-tray.exe --measure: status $?"
  for _ in $(seq 100); do grep -q ',12345,' "$csv" 2>/dev/null && break; sleep 0.1; done
  grep -q ',12345,' "$csv" || fail "the installed ovrin-tray.exe logged no reading"
  wine "$folder/ovrin-tray.exe" --quit || fail "the installed ovrin-tray.exe --quit: status $?"
  ended || fail "the installed ovrin-tray.exe did not quit"
else
  fail "the installed ovrin-tray.exe did not connect: $(cat "$work/tray.err")"
fi
wine reg add "$settings" /v Decimals /d 1 /f >/dev/null  # as its Settings dialog keeps them
cp "$csv" "$work/readings.csv" 2>/dev/null || true
[ "$status" = 0 ] && echo "installer: a silent install; its ovrin.exe measured, its ovrin-tray.exe logged and quit"

# A silent uninstall keeps the settings and the log.
uninstall "$folder"
[ "$(left)" = "settings log" ] || fail "after a silent uninstall, left: $(left)"
[ "$(value "$settings" Decimals)" = 1 ] && cmp -s "$csv" "$work/readings.csv" || fail "the settings or the log not kept"

# An upgrade over an older version while its tray runs, started without Windows.
run_setup "$work/old/Ovrin70-0.0.1-setup.exe" /S || fail "the older setup.exe /S: status $?"
installed "$folder" 0.0.1
wine reg delete "$run" /v 'Ovrin70 Tray' /f >/dev/null  # as the tray's menu unticks it
tray "$folder" || fail "the older ovrin-tray.exe did not connect: $(cat "$work/tray.err")"
run_setup "$setup" /S || fail "setup.exe /S over the older version: status $?"
ended || fail "the upgrade did not end the running ovrin-tray.exe"
wine "$folder/ovrin-tray.exe" --quit 2>/dev/null || true
installed "$folder"
# The older tray logged the answer to its start-up command: the log grew.
[ "$(value "$settings" Decimals)" = 1 ] && head -c "$(stat -c %s "$work/readings.csv")" "$csv" | cmp -s - "$work/readings.csv" ||
  fail "the upgrade lost the settings or the log"
[ -z "$(value "$run" 'Ovrin70 Tray')" ] || fail "the upgrade started it with Windows again"
[ "$status" = 0 ] && echo "installer: an upgrade from 0.0.1 ended its tray, replaced its files, kept the settings and the log"

# A program of it still running (ovrin.exe monitor holds ovrin.exe and the
# DLL): a silent install over it fails, with status 2, and changes nothing.
: >"$work/monitor.out"
wine "$folder/ovrin.exe" monitor --port COM5 >"$work/monitor.out" 2>&1 &
monitor=$!
pids+=($monitor)
for _ in $(seq 200); do grep -q "^kind" "$work/monitor.out" && break; sleep 0.1; done
grep -q "^kind" "$work/monitor.out" || fail "ovrin.exe monitor took no reading: $(cat "$work/monitor.out")"
code=0
run_setup "$work/old/Ovrin70-0.0.1-setup.exe" /S || code=$?
[ "$code" = 2 ] || fail "the older setup.exe /S over a running ovrin.exe: status $code, not 2"
wine taskkill /f /im ovrin.exe >/dev/null 2>&1 || true
wait "$monitor" 2>/dev/null || true
installed "$folder"  # nothing of it changed

# Into another folder, with a space in its name, while the tray of the
# first runs: the first copy goes (its tray ended), one copy is left.
other="$WINEPREFIX/drive_c/Tools Dir/Ovrin70"
wine reg add "$run" /v 'Ovrin70 Tray' /d "\"$(winepath -w "$folder")\\ovrin-tray.exe\"" /f >/dev/null  # ticked again in its menu
tray "$folder" || fail "the tray did not connect: $(cat "$work/tray.err")"
# /D= takes the rest of the command line as it stands, unquoted: cmd passes it so.
timeout 120 "$WINE_LOADER" cmd /c "$(winepath -w "$setup") /S /D=$(winepath -w "$other")" 2>>"$work/wine.err" ||
  fail "setup.exe /S /D=: status $?"
ended || fail "/D=: the first copy's tray not ended"
[ ! -e "$folder" ] || fail "/D=: the first copy left: $(ls "$folder" | tr '\n' ' ')"
installed "$other"
[ "$(value "$run" 'Ovrin70 Tray')" = "\"$(winepath -w "$other")\\ovrin-tray.exe\"" ] || fail "/D=: the Run value"
[ "$status" = 0 ] && echo "installer: into another folder, with a space, the first copy and its tray gone"

# Uninstalled while its tray runs, with the box ticked: nothing is left.
tray "$other" || fail "the tray in another folder did not connect: $(cat "$work/tray.err")"
uninstall "$other" /REMOVEDATA
ended || fail "the uninstaller did not end the running tray"
[ ! -e "$other" ] && [ -z "$(left)" ] || fail "after an uninstall with /REMOVEDATA, left: $(left)"
[ "$status" = 0 ] && echo "installer: a running tray ended by the uninstaller, and with /REMOVEDATA nothing left"

# On 32-bit Windows, the x86 files.
if [ -z "$no32" ]; then
  wineserver -k
  export WINEPREFIX=$work/prefix32 WINEARCH=win32
  use_wine "$unpacked/x86/bin/Ovrin70.dll"
  wineboot -i >/dev/null 2>&1
  paths
  arch=x86 format=pei-i386
  run_setup "$setup" /S || fail "setup.exe /S on 32-bit Windows: status $?"
  installed "$folder"
  [ "$status" = 0 ] && echo "installer: on 32-bit Windows it installed the x86 programs and DLL"
fi
[ "$status" = 0 ] || [ ! -s "$work/wine.err" ] || sed 's/^/  (the installers under Wine) /' "$work/wine.err"
exit $status
