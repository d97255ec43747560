# Sourced by the scripts that install, build and test: what this machine can
# run, and the list of what a test run could not do here.

# runs_32bit_programs: whether the kernel runs 32-bit x86 programs (some are
# built without). Asked of the smallest i386 program there is, which exits
# with status 0; nothing needs to be installed for it. OVRIN_RUNS_32BIT=0 or 1
# stands in for the answer in the tests of these scripts.
runs_32bit_programs() {
  case "${OVRIN_RUNS_32BIT:-}" in 0) return 1 ;; 1) return 0 ;; esac
  local probe status=0
  probe=$(mktemp "${TMPDIR:-/tmp}/ovrin-i386-XXXXXX")
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000\061\333\270\001\000\000\000\315\200' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=1
  rm -f "$probe"
  return $status
}

# skipped WHAT REASON: says that WHAT was not run here and why, and adds it to
# the list that the test command prints at its end ($OVRIN_SKIPPED, if set).
skipped() {
  echo "skipped: $1: $2"
  [ -z "${OVRIN_SKIPPED:-}" ] || printf '%s: %s\n' "$1" "$2" >>"$OVRIN_SKIPPED"
}
