#!/usr/bin/env bash
# Runs run_case.sh on the broken programs in bad/ and checks that each one
# fails, for the reason it was written for, with the runner's message.
#
#   check_harness.sh QUORVELIN_RUN
set -u
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
fail=0

expect() {  # NAME STATUS TEXT...
  local name=$1 want=$2 out status t
  shift 2
  out=$(E2E_TIMEOUT=1 bash "$here/run_case.sh" "$bin" "$here/bad/$name" 2>&1)
  status=$?
  for t in "$@"; do
    if [ "$status" != "$want" ] || ! grep -qF -- "$t" <<< "$out"; then
      echo "bad/$name: status $status, expected $want with \"$t\"; the harness said:"
      echo "$out" | head -20
      fail=1
      return
    fi
  done
}

expect right 0 ""
expect noend 1 "exit status 1, expected 0" "noend.ic:"
expect divzero 1 "exit status 2, expected 0" "divzero.ic:7:2: error: division by zero"
expect fpreg 1 "exit status 1, expected 0" "fpreg.ic:6:"
expect eof 1 "exit status 3, expected 0" "waiting for input at end of input" "eof.ic:5:2: note: 'gbln'"
expect wrong 1 "console output differs"
expect highbyte 1 "highbyte.ic is not plain ASCII"
exit $fail
