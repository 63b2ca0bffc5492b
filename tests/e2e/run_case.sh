#!/usr/bin/env bash
# Runs one intermediate program through quorvelin-run and compares what it
# prints on the console and its exit status.
#
#   run_case.sh QUORVELIN_RUN DIR/NAME
#
# A program is a set of files sharing NAME:
#   NAME.ic      the (first) input file
#   NAME.2.ic    optional further input files of the same program, given
#   NAME.3.ic    after NAME.ic in the order of their numbers
#   ...
#   NAME.in      optional console input (without it the program reads /dev/null)
#   NAME.out     the exact console output
#   NAME.status  optional expected exit status of quorvelin-run (default 0)
#
# The runner is given --cpu-limit E2E_TIMEOUT (default 60 seconds).  The case
# fails when the exit status or any byte of standard output differs; the
# runner's standard error is shown then.
set -u
bin=$(realpath "$1")
case_path=$2
dir=$(dirname "$case_path")
name=$(basename "$case_path")
limit=${E2E_TIMEOUT:-60}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

fail() {
  echo "$name: $*"
  exit 1
}

[ -f "$case_path.ic" ] || fail "no $name.ic"
[ -f "$case_path.out" ] || fail "no $name.out"

files=("$name.ic")
n=2
while [ -f "$dir/$name.$n.ic" ]; do
  files+=("$name.$n.ic")
  n=$((n + 1))
done

# A byte above 127 in a program can make SPIM spin for ever.
for f in "${files[@]}" "$name.in"; do
  if [ -f "$dir/$f" ] && LC_ALL=C grep -q $'[^\t\r -~]' "$dir/$f"; then
    fail "$f is not plain ASCII"
  fi
done

input=/dev/null
[ -f "$case_path.in" ] && input=$(realpath "$case_path.in")
want=0
[ -f "$case_path.status" ] && want=$(cat "$case_path.status")

# The wall-clock timeout only guards the harness against a runner that hangs.
(cd "$dir" && timeout $((limit * 2 + 30)) "$bin" --cpu-limit "$limit" "${files[@]}" \
  < "$input" > "$tmp/out" 2> "$tmp/err")
status=$?

bad=0
if [ "$status" != "$want" ]; then
  echo "exit status $status, expected $want"
  bad=1
fi
if ! cmp -s "$case_path.out" "$tmp/out"; then
  echo "console output differs (- expected, + actual):"
  diff -u <(cat -A "$case_path.out") <(cat -A "$tmp/out") | head -60
  bad=1
fi
if [ "$bad" = 1 ] && [ -s "$tmp/err" ]; then
  echo "quorvelin-run's standard error:"
  head -c 3000 "$tmp/err"
fi
[ "$bad" = 0 ] || fail "failed"
exit 0
