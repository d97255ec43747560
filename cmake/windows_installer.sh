#!/usr/bin/env bash
# The Windows installer, made with NSIS (cmake/Ovrin70.nsi) from the files of
# the unpacked Windows ZIP: each architecture's ovrin-tray.exe, ovrin.exe and
# Ovrin70.dll, and the README, licence and notices as Windows text files.
# Made twice from the same files it is the same, byte for byte: the script
# stores no file times (SetDateSave off) and names no staging path.
# Usage: windows_installer.sh UNPACKED_ZIP VERSION OUTPUT [MAKENSIS_OPTION...]
#   (e.g. -DTARGET=amd64-unicode: the same installer as a 64-bit program)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
zip=$1 version=$2 output=$3
shift 3
stage=$(mktemp -d /tmp/ovrin-installer-XXXXXX)
trap 'rm -rf "$stage"' EXIT
for arch in x64 x86; do
  mkdir "$stage/$arch"
  cp "$zip/$arch/bin/ovrin-tray.exe" "$zip/$arch/bin/ovrin.exe" "$zip/$arch/bin/Ovrin70.dll" "$stage/$arch/"
done
for text in README.md:README.txt LICENSE:LICENSE.txt THIRD-PARTY.md:THIRD-PARTY.txt; do
  sed 's/\r*$/\r/' "$zip/${text%%:*}" >"$stage/${text##*:}"  # CRLF, for Notepad on Windows 7
done
cp "$here/../tools/ovrin-tray/ovrin-tray.ico" "$stage/"
mkdir -p "$(dirname "$output")"
output=$(cd "$(dirname "$output")" && pwd)/$(basename "$output")
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$output" "$@" "$here/Ovrin70.nsi"
