#!/usr/bin/env bash
# Runs quorvelin-check on one case and compares its standard error and exit
# status with NAME.expect (first line "status N", then the expected standard
# error).  The case's files are NAME.ic and NAME.2.ic, ..., or the arguments
# in NAME.args when there is one.  Runs in the case's folder, so file names in
# the diagnostics are as written there.
#   run_case.sh CHECKER CASE_PATH_WITHOUT_EXTENSION
set -uo pipefail
checker=$1
dir=$(dirname "$2")
name=$(basename "$2")
cd "$dir" || exit 1
if [ -f "$name.args" ]; then
  read -r -a args < "$name.args"
else
  args=("$name.ic")
  for extra in "$name".[0-9].ic; do
    [ -e "$extra" ] && args+=("$extra")
  done
fi
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
"$checker" --color=never "${args[@]}" > "$out" 2> "$err" < /dev/null
status=$?
if [ -s "$out" ]; then
  echo "FAIL: the checker wrote to standard output:"
  cat "$out"
  exit 1
fi
actual=$( { echo "status $status"; cat "$err"; } )
expected=$(cat "$name.expect")
if [ "$actual" != "$expected" ]; then
  echo "FAIL: $name"
  diff <(echo "$expected") <(echo "$actual")
  exit 1
fi
