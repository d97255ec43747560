#!/usr/bin/env bash
# Builds the native and the Windows build and runs every test of both.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
. "$root/tests/wine/loader.sh"
# What a group or check could not do on this machine, and why: printed last.
export OVRIN_SKIPPED
OVRIN_SKIPPED=$(mktemp /tmp/ovrin-skipped-XXXXXX)
trap 'rm -f "$OVRIN_SKIPPED"' EXIT

cmake -S "$root" -B "$root/build" -G Ninja -DOVRIN_WARNINGS_AS_ERRORS=ON
cmake --build "$root/build"
cmake -S "$root" -B "$root/build-win" -G Ninja -DOVRIN_WARNINGS_AS_ERRORS=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DOVRIN_NATIVE_BUILD_DIR="$root/build"
cmake --build "$root/build-win"
cmake -S "$root" -B "$root/build-win32" -G Ninja -DOVRIN_WARNINGS_AS_ERRORS=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" -DOVRIN_NATIVE_BUILD_DIR="$root/build"
cmake --build "$root/build-win32"

# The fuzzers, a build of their own with clang.
cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DOVRIN_WARNINGS_AS_ERRORS=ON -DOVRIN_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  >/dev/null
cmake --build "$root/build-fuzz"

# The unit and pseudo-terminal tests again under ASan+UBSan and under TSan.
for sanitizer in address,undefined thread; do
  dir="$root/build-${sanitizer%%,*}"
  cmake -S "$root" -B "$dir" -G Ninja -DOVRIN_WARNINGS_AS_ERRORS=ON -DOVRIN_SANITIZE="$sanitizer" >/dev/null
  cmake --build "$dir" --target unit_tests web_tests pty_tests load_tests ovrin-sim
done

# The release packages, from clean builds of their own; made twice, as the
# same commit must give the same bytes.
"$root/scripts/package.sh" >/dev/null
first_dist=$(mktemp -d /tmp/ovrin-dist-XXXXXX)
trap 'rm -rf "$OVRIN_SKIPPED" "$first_dist"' EXIT
cp "$root/dist"/* "$first_dist/"
"$root/scripts/package.sh" >/dev/null
same_packages() {  # every package of the first run, byte for byte in the second
  local file status=0
  for file in "$first_dist"/*; do
    cmp -s "$file" "$root/dist/${file##*/}" || { echo "made twice, it differs: ${file##*/}"; status=1; }
  done
  [ "$status" = 1 ] || echo "made twice: $(ls "$first_dist" | wc -l) packages, the same bytes"
  return $status
}

passed=0
failed=0
step() {  # step NAME COMMAND...: runs one group of tests and counts it
  local name=$1
  shift
  echo "== $name"
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "== $name FAILED"; fi
}
step "native" ctest --test-dir "$root/build" --output-on-failure -j 2
step "windows x86_64 under 64-bit Wine" ctest --test-dir "$root/build-win" --output-on-failure
no32=$(wine32_missing "$root/build")
if [ -z "$no32" ]; then
  step "windows i686 under 32-bit Wine" ctest --test-dir "$root/build-win32" --output-on-failure
else
  skipped "windows i686 under 32-bit Wine (only what needs no Wine is run)" "$no32"
  step "windows i686 without Wine" ctest --test-dir "$root/build-win32" --output-on-failure -E wine
fi
step "asan+ubsan" ctest --test-dir "$root/build-address" -L "unit|pty" --output-on-failure -j 2
step "leaks (lsan), 30 cycles" env OVRIN_LOAD_CYCLES=30 "$root/build-address/load_tests"
step "tsan" ctest --test-dir "$root/build-thread" -L "unit|pty" --output-on-failure -j 2
step "fuzzers" ctest --test-dir "$root/build-fuzz" --output-on-failure
step "release packages" "$root/tests/package/check.sh" "$root/dist" "$root/build"
step "release packages made twice" same_packages
echo "groups: $passed passed, $failed failed"
if [ -s "$OVRIN_SKIPPED" ]; then
  echo "skipped on this machine:"
  sed 's/^/  /' "$OVRIN_SKIPPED"
else
  echo "skipped on this machine: nothing"
fi
[ "$failed" -eq 0 ]
