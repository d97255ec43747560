# Sourced by the scripts that install, build and test: what this machine can
# run, and the list of what a test run could not do here.

# runs_32bit_programs: whether the kernel runs 32-bit x86 programs (some are
# built without). Asked of the smallest i386 program there is, which exits
# with status 0; nothing needs to be installed for it. It runs from the first
# folder where a copy of true runs (a temporary folder may be mounted
# noexec). OVRIN_RUNS_32BIT=0 or 1 stands in for the answer in the tests of
# these scripts.
runs_32bit_programs() {
  case "${OVRIN_RUNS_32BIT:-}" in 0) return 1 ;; 1) return 0 ;; esac
  local folder probe status
  for folder in "${TMPDIR:-/tmp}" /dev/shm "$HOME" "$(dirname "${BASH_SOURCE[0]}")"; do
    probe=$(mktemp "$folder/ovrin-probe-XXXXXX" 2>/dev/null) || continue
    status=1
    if cp /bin/true "$probe" && chmod +x "$probe" && "$probe" 2>/dev/null; then
      printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000\061\333\270\001\000\000\000\315\200' >"$probe"
      "$probe" 2>/dev/null && status=0
      rm -f "$probe"
      return $status
    fi
    rm -f "$probe"
  done
  return 1
}

# skipped WHAT REASON: says that WHAT was not run here and why, and adds it to
# the list that the test command prints at its end ($OVRIN_SKIPPED, if set).
skipped() {
  echo "skipped: $1: $2"
  [ -z "${OVRIN_SKIPPED:-}" ] || printf '%s: %s\n' "$1" "$2" >>"$OVRIN_SKIPPED"
}
