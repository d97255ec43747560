#!/usr/bin/env bash
# Installs with apt-get whatever the builds and tests need and is missing.
# Usage: install-deps.sh [--native]   (--native: only what the native build needs)
set -euo pipefail
packages=(cmake ninja-build g++ make pkg-config python3 python3-serial libgtest-dev libgmock-dev libbenchmark-dev
          libserialport-dev libcli11-dev dpkg-dev doxygen clang-format clang-tidy libx11-dev libxtst-dev libqrcodegencpp-dev)
if [ "${1:-}" != "--native" ]; then
  # The Windows builds, run under 64- and 32-bit Wine; the 32-bit Wine tests
  # need a 32-bit modem-status shim (gcc -m32). The page of ovrin serve is
  # tested in headless Chromium.
  packages+=(chromium chromium-driver python3-selenium)
  # The release packages: made with CPack, checked as a user takes them.
  packages+=(unzip lld llvm python3-pefile)
  # The C# binding, compiled and run by Debian's Mono.
  packages+=(mono-mcs mono-runtime)
  # ovrin type, tested with real windows: an X server, a Tk window, a key press.
  packages+=(xvfb python3-tk xdotool)
  packages+=(mingw-w64 wine wine64 wine32:i386 gcc-multilib util-linux curl clang libclang-rt-14-dev)
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done

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
    $sudo apt-get update -qq
  fi
  work=$(mktemp -d)
  (cd "$work" && apt-get source -qq cpp-httplib >/dev/null 2>&1)
  $sudo install -D -m 644 "$work"/cpp-httplib-*/httplib.h "$httplib_dir/httplib.h"
  rm -rf "$work"
}

if [ ${#missing[@]} -eq 0 ]; then
  [ -f "$httplib_dir/httplib.h" ] || install_httplib
  exit 0
fi
echo "installing: ${missing[*]}"
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
[ -f "$httplib_dir/httplib.h" ] || install_httplib
