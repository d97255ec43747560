# Sourced by the scripts that run Windows programs under Wine.
#
# wine_loader DLL: the Wine loader for the word size of DLL. A 64-bit program
# needs no 32-bit support from the machine, so it is started by wine64 itself.
wine_loader() {
  if objdump -f "$1" | grep -q 'x86-64'; then
    command -v wine64 || echo /usr/lib/wine/wine64
  else
    command -v wine
  fi
}

# runs_32bit: whether this machine can run 32-bit programs at all (some
# kernels are built without support for them).
runs_32bit() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
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
