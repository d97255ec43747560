# Sourced by the scripts that run Windows programs under Wine.
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/machine.sh"

# wine_loader DLL: the Wine loader for the word size of DLL. A 64-bit program
# needs no 32-bit support from the machine, so it is started by wine64 itself.
# (type -P: the program on PATH, never the function use_wine defines.)
wine_loader() {
  if objdump -f "$1" | grep -q 'x86-64'; then
    type -P wine64 || echo /usr/lib/wine/wine64
  else
    type -P wine
  fi
}

# wine32_missing NATIVE_BUILD_DIR: why 32-bit Windows programs cannot be run
# under Wine here; nothing when they can.
wine32_missing() {
  if ! runs_32bit_programs; then
    echo "this machine cannot run 32-bit programs"
  elif ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "32-bit Wine (wine32:i386) is not installed"
  elif [ ! -f "$1/shim/lib/i386-linux-gnu/libtiocm_shim.so" ]; then
    echo "no 32-bit modem-status shim for Wine (gcc -m32, from gcc-multilib, is missing)"
  fi
}

# use_wine DLL: "wine", "wineboot" and "winepath" from now on start the loader
# for the word size of DLL. Wine starts its own helpers (the desktop's
# explorer.exe among them, without which no window gets the focus) through
# $WINELOADER, which must then be that loader too.
use_wine() {
  WINE_LOADER=$(wine_loader "$1")
  export WINELOADER=$WINE_LOADER
  wine() { "$WINE_LOADER" "$@"; }
  wineboot() { "$WINE_LOADER" wineboot "$@"; }
  winepath() { "$WINE_LOADER" winepath "$@"; }
}
