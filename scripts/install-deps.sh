#!/usr/bin/env bash
# Installs with apt-get whatever the builds and tests need and is missing.
# Usage: install-deps.sh [--native]   (--native: only what the native build needs)
#
# A mirror that is half-synced, or a machine without 32-bit support, stops
# nothing: a failed index is retried and then left to the installs, and
# 32-bit Wine is installed in a step of its own whose failure only means that
# 32-bit Windows programs are not run here.
set -euo pipefail
. "$(dirname "$0")/machine.sh"
packages=(cmake ninja-build g++ make pkg-config python3 python3-serial libgtest-dev libgmock-dev libbenchmark-dev
          libserialport-dev libcli11-dev dpkg-dev doxygen clang-format clang-tidy libx11-dev libxtst-dev libqrcodegencpp-dev
          valgrind strace)
packages32=()
if [ "${1:-}" != "--native" ]; then
  # The Windows builds, run under Wine. The page of ovrin serve is tested in
  # headless Chromium.
  packages+=(chromium chromium-driver python3-selenium)
  # The release packages: made with CPack, the Python wheels with Debian's
  # PEP 517 builder, the NuGet package with dotnet pack; checked as a user
  # takes them (pip in a virtual environment, Debian's nuget client).
  packages+=(unzip lld llvm python3-pefile python3-build python3-setuptools python3-wheel python3-venv nuget)
  # The C# binding, compiled and run by Debian's Mono; mono-devel has the
  # netstandard facade that a Mono program built against the package's
  # netstandard2.0 library is compiled with.
  packages+=(mono-mcs mono-runtime mono-devel)
  # The Windows installer: made by Debian's NSIS, its payload read by 7-Zip.
  packages+=(nsis 7zip)
  # The Delphi unit, compiled by Free Pascal; its Windows RTL built from fpc-source.
  packages+=(fp-compiler fpc-source)
  # ovrin type, tested with real windows: an X server, a Tk window, a key press.
  packages+=(xvfb python3-tk xdotool)
  packages+=(mingw-w64 wine wine64 util-linux curl clang libclang-rt-14-dev)
  # 32-bit Wine, and gcc -m32 for its modem-status shim: only for the i686 runs.
  packages32=(wine32:i386 gcc-multilib)
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=() missing32=()
for package in "${packages[@]}"; do installed "$package" || missing+=("$package"); done
for package in "${packages32[@]}"; do installed "$package" || missing32+=("$package"); done
no32=""
if [ ${#missing32[@]} -gt 0 ] && ! runs_32bit_programs; then
  no32="this machine cannot run 32-bit programs"
  missing32=()
fi

# apt-get update, retried: a mirror may be mid-sync on one index. What still
# fails is reported, and the lists apt already has are used.
pause=${OVRIN_APT_RETRY_PAUSE:-5}
updated=""
apt_update() {
  [ -z "$updated" ] || return 0
  updated=yes
  local try errors
  for try in 1 2 3; do
    if errors=$($sudo apt-get update -qq 2>&1 >/dev/null); then return 0; fi
    [ "$try" = 3 ] || sleep "$pause"
  done
  echo "install-deps: warning: apt-get update failed on some indexes; going on with the lists apt has:" >&2
  grep -E '^(E|W):' <<<"$errors" | head -n 5 | sed 's/^/  /' >&2 || true
}

# cpp-httplib's whole header (Debian's -dev package splits it into a native
# library): from Debian's source package, with Debian's patches applied.
httplib_dir=/usr/local/include/ovrin-httplib
install_httplib() {
  local sources=/etc/apt/sources.list.d/ovrin-deb-src.sources work
  if ! apt-get source --print-uris cpp-httplib >/dev/null 2>&1; then
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | $sudo tee "$sources" >/dev/null
    else  # the one-line format
      sources=/etc/apt/sources.list.d/ovrin-deb-src.list
      sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | $sudo tee "$sources" >/dev/null
    fi
    updated=""
    apt_update
  fi
  work=$(mktemp -d)
  (cd "$work" && apt-get source -qq cpp-httplib >/dev/null 2>&1)
  $sudo install -D -m 644 "$work"/cpp-httplib-*/httplib.h "$httplib_dir/httplib.h"
  rm -rf "$work"
}

added_i386=""
if [ ${#missing32[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
  added_i386=yes
fi
if [ ${#missing[@]} -gt 0 ] || [ ${#missing32[@]} -gt 0 ]; then
  apt_update
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
if [ ${#missing32[@]} -gt 0 ]; then
  echo "installing: ${missing32[*]}"
  if ! errors=$(DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing32[@]}" 2>&1 >/dev/null); then
    no32="apt-get could not install ${missing32[*]}: $(grep -E '^E:' <<<"$errors" | head -n 1 | sed 's/^E: //')"
    # The machine's own updates need not fetch i386 indexes for nothing.
    [ -z "$added_i386" ] || $sudo dpkg --remove-architecture i386 || true
  fi
fi
[ -z "$no32" ] || echo "install-deps: 32-bit Windows programs will not be run on this machine: $no32" >&2
[ -f "$httplib_dir/httplib.h" ] || install_httplib

# The .NET SDK is not a Debian package: the machine brings it or it is missing.
# The C# binding, a netstandard2.0 library, is built against NETStandard.Library,
# which is fetched once from the machine's NuGet source into a folder of its own
# (cmake/PackageNuGet.cmake's OVRIN_NUGET_FOLDER); the builds then restore offline.
nuget_folder=/opt/nuget/netstandard
if [ "${1:-}" != "--native" ]; then
  if ! command -v dotnet >/dev/null; then
    echo "install-deps: the .NET SDK (dotnet) is not on this machine and apt-get has none:" \
         "scripts/package.sh, which makes the NuGet package with it, stops at that package" >&2
  elif [ ! -d "$nuget_folder/netstandard.library" ]; then
    echo "fetching NETStandard.Library into $nuget_folder"
    work=$(mktemp -d)
    printf '%s\n' '<Project Sdk="Microsoft.NET.Sdk">' \
      '<PropertyGroup><TargetFramework>netstandard2.0</TargetFramework></PropertyGroup></Project>' \
      >"$work/fetch.csproj"
    $sudo env DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1 \
      dotnet restore "$work/fetch.csproj" --packages "$nuget_folder" >"$work/restore.log" 2>&1 ||
      { echo "install-deps: warning: NETStandard.Library could not be fetched: the NuGet package cannot be made:" >&2
        grep -E 'error' "$work/restore.log" | head -n 3 | sed 's/^/  /' >&2
        $sudo rm -rf "$nuget_folder"; }
    rm -rf "$work"
  fi
fi
