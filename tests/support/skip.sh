#!/usr/bin/env bash
# Stands for a test that this machine cannot run: lists it, with its reason,
# among what the test command skipped, and tells CTest it was skipped (77).
# Usage: skip.sh WHAT REASON
. "$(dirname "$0")/../../scripts/machine.sh"
skipped "$1" "$2"
exit 77
