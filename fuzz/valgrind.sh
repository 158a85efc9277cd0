#!/bin/sh
# valgrind PROGRAM ARGS...: runs a program under valgrind, exit 77 (a skip)
# when valgrind cannot run it on this processor. Some virtual machines hide
# RDTSCP from CPUID, so valgrind refuses the instruction, and libhwy (under
# libjxl) executes it as it loads: no run of the tool gets past that there.
valgrind=$1
shift
log=$(mktemp) || exit 1
trap 'rm -f "$log"' EXIT
"$valgrind" --log-file="$log" "$@"
status=$?
cat "$log" >&2
if [ "$status" -ne 0 ] &&
   grep -A1 'Unrecognised instruction' "$log" | grep -q ' at .*(in /usr/lib/'; then
  echo "skipped: valgrind cannot execute an instruction of a system library on this processor" >&2
  exit 77
fi
exit "$status"
