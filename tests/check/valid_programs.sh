#!/usr/bin/env bash
# Every program of examples/ and tests/e2e/ is valid: the checker must report
# nothing at all on it.  NAME.2.ic, ... are further files of program NAME.
#   valid_programs.sh CHECKER DIR...
set -uo pipefail
checker=$1
shift
fail=0
count=0
for dir in "$@"; do
  for first in "$dir"/*.ic; do
    case $first in *.[0-9].ic) continue ;; esac
    files=("$first")
    for extra in "${first%.ic}".[0-9].ic; do
      [ -e "$extra" ] && files+=("$extra")
    done
    count=$((count + 1))
    err=$("$checker" "${files[@]}" 2>&1 < /dev/null)
    status=$?
    if [ $status -ne 0 ] || [ -n "$err" ]; then
      echo "FAIL: ${files[*]}: status $status"
      echo "$err"
      fail=1
    fi
  done
done
echo "$count programs checked"
exit $fail
