#!/usr/bin/env bash
# Runs run_case.sh on the broken programs in bad/ and checks that each one
# fails, for the reason it was written for.
#
#   check_harness.sh QUORVELIN
set -u
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
fail=0

expect() {  # NAME STATUS TEXT
  local out status
  out=$(E2E_TIMEOUT=3 bash "$here/run_case.sh" "$bin" "$here/bad/$1" 2>&1)
  status=$?
  if [ "$status" != "$2" ] || ! grep -qF -- "$3" <<< "$out"; then
    echo "bad/$1: status $status, expected $2 with \"$3\"; the harness said:"
    echo "$out" | head -20
    fail=1
  fi
}

expect right 0 ""
expect noend 1 "SPIM reports undefined symbols"
expect divzero 1 "SPIM standard error"
expect fpreg 1 "syntax error"
expect eof 1 "SPIM timed out"
expect wrong 1 "console output differs"
expect highbyte 1 "highbyte.ic is not plain ASCII"
exit $fail
