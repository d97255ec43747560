#!/usr/bin/env bash
# Checks formatting and runs clang-tidy over the library and the tools.
# Usage: lint.sh BUILD_DIR (a native build with compile_commands.json)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
clang-format --dry-run --Werror $(git ls-files '*.cpp' '*.h' '*.c' 2>/dev/null || find include src tools tests examples bench -name '*.[ch]*')
# GCC's own warning options in the compile commands are unknown to clang-tidy: no error.
# (The tray program is Windows alone: the native build has no compile commands for it.)
clang-tidy -p "$1" --quiet --extra-arg=-Wno-unknown-warning-option $(ls src/protocol/*.cpp src/connection/*.cpp src/platform/posix/*.cpp tools/*/*.cpp tools/ovrin/web/*.cpp | grep -v -e win32 -e ovrin-tray/) 2>&1 |
  { grep -E "(warning|error):" && exit 1 || exit 0; }
