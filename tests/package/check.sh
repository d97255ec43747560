#!/usr/bin/env bash
# Checks the release packages in DIST as a developer would take them:
#  - the Windows ZIP: its files, exports, import libraries and version
#    (check_windows.py); a host built for the MSVC ABI and linked by lld-link
#    against each architecture's Ovrin70.lib measures under 64- and 32-bit Wine;
#  - the Windows installer (installer.sh): its payload, made again the same,
#    installed, upgraded, run and uninstalled under Wine;
#  - the Debian package: its fields and computed dependencies, its files and
#    the soname; installed with dpkg into a scratch root, where C and C++ hosts
#    are built against it with find_package and pkg-config and measure, and
#    Python imports its module, which measures with the root's library;
#  - the Python wheels and the NuGet package: their files, metadata and the
#    platform of every native library (check_bindings.py); the Linux wheel
#    installed by pip into a fresh virtual environment with no index, which
#    measures with the library inside it and nothing in its environment; the
#    Windows wheels installed by pip for their platforms; the NuGet package
#    installed by Debian's nuget client, a Mono program compiled against its
#    library and measuring with its linux-x64 native library, and an xunit
#    project run by dotnet test that restores it from DIST, offline, and runs
#    the binding's scenarios with the linux-x64 native library .NET picks.
# Usage: check.sh DIST NATIVE_BUILD_DIR (the native build: the Wine shim)
set -euo pipefail
dist=$(cd "$1" && pwd)
native=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../wine/loader.sh"
version=$(sed -n 's/^project(Ovrin70 VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")
work=$(mktemp -d /tmp/ovrin-package-XXXXXX)
sims=()
cleanup() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  WINEPREFIX=$work/prefix wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
status=0
fail() { echo "FAILED: $*"; status=1; }

# ---- The Windows ZIP ----
zip=$dist/Ovrin70-$version-windows.zip
unzip -q "$zip" -d "$work/zip" || fail "cannot unpack $zip"
unpacked=$work/zip/Ovrin70-$version-windows
/usr/bin/python3 "$here/check_windows.py" "$unpacked" "$version" || status=1

export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LD_PRELOAD="$native/shim/\$LIB/libtiocm_shim.so"
unset DISPLAY WAYLAND_DISPLAY
use_wine "$unpacked/x64/bin/Ovrin70.dll"
mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1  # the HARDWARE keys live only as long as the server
wineboot -i >/dev/null 2>&1
start_sim() {  # start_sim NAME: an ovrin-sim whose terminal is the first line of $work/NAME.out
  "$native/ovrin-sim" >"$work/$1.out" &
  sims+=($!)
  for _ in $(seq 100); do [ -s "$work/$1.out" ] && break; sleep 0.05; done
}
start_sim sim
ln -sfn "$(head -n 1 "$work/sim.out")" "$WINEPREFIX/dosdevices/com5"
# The x86 programs are built everywhere and run where 32-bit Wine can run
# them; a program that does not start is a failure.
no32=$(wine32_missing "$native")
[ -z "$no32" ] || skipped "release packages: the x86 hosts under Wine (built and linked, not run)" "$no32"
for arch in x64:x86_64 x86:i686; do
  folder=${arch%%:*}
  target=${arch##*:}-pc-windows-msvc
  out=$work/$folder
  mkdir -p "$out"
  cp "$unpacked/$folder/bin/Ovrin70.dll" "$out/"
  if clang --target="$target" -ffreestanding -fno-builtin -O1 -Wall -Werror -I"$unpacked/include" \
       -c "$here/msvc_host.c" -o "$out/host.obj" &&
     lld-link /nologo /entry:start /subsystem:console /nodefaultlib /machine:"$folder" "$out/host.obj" \
       "$unpacked/$folder/lib/Ovrin70.lib" /out:"$out/host.exe"; then
    result=0
    if [ "$folder" = x64 ] || [ -z "$no32" ]; then
      WINE_LOADER=$(wine_loader "$out/Ovrin70.dll") wine "$out/host.exe" >/dev/null 2>&1 || result=$?
      [ "$result" = 0 ] && echo "msvc-style host, $folder, linked with lld-link: measured 12345" ||
        fail "msvc-style host, $folder: exit status $result"
    fi
  else
    fail "msvc-style host, $folder: did not build"
  fi
done

# Hosts built as Visual C++ builds them (build_msvc_host.sh), for each word
# size: the class as Visual C++ 7.0 and MFC hosts see it (vc/, linked against
# Ovrin70.lib), and a stand-in for VBA that calls what bindings/vba/Ovrin70.bas
# declares, as declared (vba/). The meter is COM12, the only port listed, and
# nothing is remembered.
ln -sfn "$(head -n 1 "$work/sim.out")" "$WINEPREFIX/dosdevices/com12"
wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v Serial12 /t REG_SZ /d COM12 /f >/dev/null
for folder in x64 x86; do
  bits=64
  [ "$folder" = x86 ] && bits=32
  vc=$work/vc-$folder vba=$work/vba-$folder
  mkdir -p "$vba"
  /usr/bin/python3 "$here/vba/declares.py" "$here/../../bindings/vba/Ovrin70.bas" "$bits" "$vba/vba_declares.h"
  # A plugin that comes and goes with its runtime, and two stand-in debug
  # runtimes on the process heap (vc_host.cpp says what each is for).
  mkdir -p "$vc"
  for name in msvcr110d msvcr120d; do cp "$here/vc/debug_runtime.cpp" "$vc/$name.cpp"; done
  if ! "$here/build_msvc_host.sh" --dll --runtime msvcr71 "$folder" "$here/vc/vc_plugin.cpp" "$vc" \
         "$unpacked/$folder/lib/Ovrin70.lib" ||
     ! "$here/build_msvc_host.sh" --dll --runtime msvcr90 "$folder" "$here/vc/vc_transient.cpp" "$vc" ||
     ! "$here/build_msvc_host.sh" --dll "$folder" "$vc/msvcr110d.cpp" "$vc" ||
     ! "$here/build_msvc_host.sh" --dll "$folder" "$vc/msvcr120d.cpp" "$vc" ||
     ! "$here/build_msvc_host.sh" "$folder" "$here/vc/vc_host.cpp" "$vc" "$unpacked/$folder/lib/Ovrin70.lib" \
         "$vc/vc_plugin.lib" ||
     ! "$here/build_msvc_host.sh" "$folder" "$here/vba/stand_in.cpp" "$vba"; then
    fail "hosts built as Visual C++ builds them, $folder: did not build"
    continue
  fi
  [ "$folder" = x64 ] || [ -z "$no32" ] || continue
  for program in "$vc/vc_host.exe" "$vba/stand_in.exe"; do
    cp "$unpacked/$folder/bin/Ovrin70.dll" "$(dirname "$program")/"
    wine reg delete 'HKCU\Software\Quenmark\OVRIN' /f >/dev/null 2>&1 || true
    if output=$(WINE_LOADER=$(wine_loader "$unpacked/$folder/bin/Ovrin70.dll") wine "$program" 2>&1); then
      echo "$(basename "$program"), $folder: $(tail -n 1 <<<"$output")"
    else
      fail "$(basename "$program"), $folder:"$'\n'"$output"
    fi
  done
done

# ---- The Windows installer ----
"$here/installer.sh" "$dist" "$native" || status=1

# ---- The Debian package ----
deb=$dist/ovrin70_${version}_amd64.deb
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = ovrin70 ] && [ "$(field Version)" = "$version" ] && [ "$(field Architecture)" = amd64 ] ||
  fail "deb fields: $(field Package) $(field Version) $(field Architecture)"
depends=$(field Depends)
[[ $depends == *"libc6 (>="* && $depends == *"libstdc++6 (>="* ]] || fail "deb depends: $depends"
lib=usr/lib/x86_64-linux-gnu
listing=$(dpkg-deb -c "$deb" | awk '{print $6 $7 $8}')
for path in "$lib/libOvrin70.so.$version" "$lib/libOvrin70.so.0->libOvrin70.so.$version" \
            "$lib/libOvrin70.so->libOvrin70.so.0" usr/include/ovrin.h usr/include/ovrin_comm.h \
            usr/include/ovrin_types.h usr/include/ovrin_host.h usr/include/ovrin_readings.h \
            usr/include/ovrin_diagnostics.h "$lib/cmake/Ovrin70/Ovrin70Config.cmake" \
            "$lib/cmake/Ovrin70/Ovrin70ConfigVersion.cmake" "$lib/cmake/Ovrin70/Ovrin70Targets.cmake" \
            "$lib/pkgconfig/ovrin70.pc" usr/bin/ovrin usr/bin/ovrin-sim usr/share/man/man1/ovrin.1.gz \
            usr/share/man/man1/ovrin-sim.1.gz usr/share/doc/ovrin70/copyright \
            usr/share/ovrin70/delphi/Ovrin70.pas usr/share/ovrin70/delphi/OvrinExample.dpr \
            usr/share/doc/ovrin70/html/index.html usr/share/doc/ovrin70/html/classOvrinComm.html; do
  grep -qx "\./$path" <<<"$listing" || fail "deb: no $path"
done

root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
# The scratch root has no C library of its own: what the package depends on
# is the machine's. It has no shell either, so the package's ldconfig runs
# outside it (chrootless), where it changes nothing of ours.
dpkg --root="$root" --force-depends --force-script-chrootless -i "$deb" >"$work/dpkg.log" 2>&1 ||
  fail "dpkg -i into a scratch root: $(cat "$work/dpkg.log")"
soname=$(objdump -p "$root/$lib/libOvrin70.so.$version" | awk '/SONAME/ {print $2}')
[ "$soname" = libOvrin70.so.0 ] || fail "soname $soname"
shown=$(LD_LIBRARY_PATH=$root/$lib "$root/usr/bin/ovrin" --version)
[ "$shown" = "$version" ] || fail "ovrin --version: $shown"
grep -qx "Version: $version" "$root/$lib/pkgconfig/ovrin70.pc" || fail "pkg-config version"
zcat "$root/usr/share/man/man1/ovrin.1.gz" | grep -q '^\.SS ovrin serve' || fail "man page: no ovrin serve"
zcat "$root/usr/share/man/man1/ovrin.1.gz" | grep -q '^\.SS ovrin type' || fail "man page: no ovrin type"
"$here/../consumer/run.sh" --root "$root" || fail "hosts against the installed package"
echo "debian package: $(basename "$deb"), depends: $depends"

# python_host TAG SITE LIBRARY PYTHON [ENV...]: the Python host measures on a
# meter of its own with the ovrin70 that PYTHON imports, in an environment of
# ENV alone; the module must be SITE's, the library LIBRARY.
python_host() {
  local tag=$1 site=$2 library=$3 python=$4 output
  shift 4
  start_sim "$tag"
  mkdir -p "$work/home-$tag"
  if output=$(env -i PATH=/usr/bin:/bin HOME="$work/home-$tag" "$@" "$python" "$here/python_host.py" \
                "$(head -n 1 "$work/$tag.out")" 2>&1) &&
     [ "$output" = "$site/ovrin70/__init__.py $library 12345" ]; then
    echo "python, $tag: measured 12345 with $library"
  else
    fail "python, $tag: $output"
  fi
}
site=$root/usr/lib/python3/dist-packages
python_host deb "$site" "$root/$lib/libOvrin70.so.$version" /usr/bin/python3 PYTHONPATH="$site" \
  LD_LIBRARY_PATH="$root/$lib"
grep -qx "\./usr/lib/python3/dist-packages/ovrin70/py.typed" <<<"$listing" || fail "deb: no py.typed"

# ---- The Python wheels and the NuGet package ----
/usr/bin/python3 "$here/check_bindings.py" "$dist" "$version" "$here/../../README.md" || status=1
venv=$work/venv
/usr/bin/python3 -m venv "$venv"
pip=("$venv/bin/python" -m pip --disable-pip-version-check --quiet install --no-index)
if "${pip[@]}" --find-links "$dist" ovrin70; then  # README.md's line: pip takes the Linux wheel
  site=$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')
  python_host wheel "$site" "$site/ovrin70/libOvrin70.so" "$venv/bin/python"
else
  fail "pip install of the Linux wheel"
fi
# pip of a Windows Python takes the wheel of its platform from the folder.
for platform in win_amd64 win32; do
  "${pip[@]}" --find-links "$dist" --platform "$platform" --only-binary=:all: --target "$work/$platform" ovrin70 &&
    [ -f "$work/$platform/ovrin70/Ovrin70.dll" ] || fail "pip install for $platform"
done

nuget=$work/nuget
if command -v nuget >/dev/null; then
  HOME=$work/home nuget install Ovrin70 -Version "$version" -Source "$dist" -OutputDirectory "$nuget" -NonInteractive \
    >"$work/nuget.log" 2>&1 || fail "nuget install: $(cat "$work/nuget.log")"
  nuget=$nuget/Ovrin70.$version
else
  skipped "release packages: the NuGet package installed by a client (unpacked instead)" "needs Debian's nuget"
  unzip -q "$dist/Ovrin70.$version.nupkg" -d "$nuget"
fi
if command -v mcs >/dev/null && command -v mono >/dev/null; then
  mkdir -p "$work/dotnet"
  output=""
  start_sim dotnet
  if cp "$nuget/lib/netstandard2.0/Ovrin70.Net.dll" "$work/dotnet/" &&
     mcs -nologo -warnaserror -r:"$work/dotnet/Ovrin70.Net.dll" -r:Facades/netstandard.dll -out:"$work/dotnet/host.exe" \
       "$here/dotnet_host.cs" &&
     output=$(OVRIN_SERIAL_PORTS=$(head -n 1 "$work/dotnet.out") XDG_CONFIG_HOME=$work/home \
              LD_LIBRARY_PATH=$nuget/runtimes/linux-x64/native mono "$work/dotnet/host.exe" 2>&1) &&
     [ "$output" = "$nuget/runtimes/linux-x64/native/libOvrin70.so 12345" ]; then
    echo "nuget: a Mono program against Ovrin70.Net.dll measured 12345 with runtimes/linux-x64/native"
  else
    fail "nuget: the Mono program: $output"
  fi
else
  skipped "release packages: a Mono program against the NuGet package" "needs Mono (mono-mcs, mono-runtime)"
fi
# .NET restores the package from DIST (dotnet/nuget.config: DIST and the
# machine's test framework, nothing else) into a folder of this check's own,
# and runs the binding's scenarios with the linux-x64 asset that it picks.
if command -v dotnet >/dev/null; then
  if env -u LD_LIBRARY_PATH -u LD_PRELOAD OVRIN_DIST="$dist" OVRIN_SIM="$native/ovrin-sim" DOTNET_CLI_TELEMETRY_OPTOUT=1 \
       DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1 timeout 600 dotnet test "$here/dotnet/Ovrin70.PackageTests.csproj" \
       --artifacts-path "$work/dotnet-test" -p:RestorePackagesPath="$work/dotnet-packages" -p:OvrinVersion="$version" \
       >"$work/dotnet-test.log" 2>&1 && grep -q 'Failed: *0, Passed: *[1-9]' "$work/dotnet-test.log"; then
    echo "nuget: dotnet test (SDK $(dotnet --version)) against the package from $dist:" \
      "$(grep -o 'Passed: *[0-9]*, Skipped: *[0-9]*, Total: *[0-9]*' "$work/dotnet-test.log" | tr -s ' ')"
  else
    fail "nuget: dotnet test against the package:"$'\n'"$(tail -n 40 "$work/dotnet-test.log")"
  fi
else
  skipped "release packages: dotnet test against the NuGet package" "needs the .NET SDK (dotnet), which this machine lacks"
fi
exit $status
