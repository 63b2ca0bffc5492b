#!/usr/bin/env bash
# Runs one golden case and compares what the translator wrote.
#
#   run_case.sh QUORVELIN DIR/NAME
#
# A case is a set of files sharing NAME:
#   NAME.ic      the input file (the translator is run on it, from DIR)
#   NAME.args    instead of NAME.ic: the argument words, one per line
#                (an empty file means no arguments)
#   NAME.sh      instead of both: a script run with QUORVELIN set, whose
#                exit status is the verdict
#   NAME.out     the whole expected standard output, or
#   NAME.body    the expected standard output after the common prologue
#                (tests/golden/prologue.out)
#   NAME.err     the expected standard error (default: empty)
#   NAME.status  the expected exit status (default: 0)
set -u
bin=$1
case_path=$2
dir=$(dirname "$case_path")
name=$(basename "$case_path")
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

if [ -f "$case_path.sh" ]; then
  cd "$dir" && QUORVELIN=$bin GOLDEN=$here exec bash "$case_path.sh"
fi

args=()
if [ -f "$case_path.args" ]; then
  while IFS= read -r a || [ -n "$a" ]; do args+=("$a"); done < "$case_path.args"
else
  args=("$name.ic")
fi

(cd "$dir" && timeout 20 "$bin" "${args[@]}" > "$tmp/out" 2> "$tmp/err" < /dev/null)
status=$?

if [ -f "$case_path.out" ]; then
  cp "$case_path.out" "$tmp/want"
elif [ -f "$case_path.body" ]; then
  cat "$here/prologue.out" "$case_path.body" > "$tmp/want"
else
  echo "case $name has neither .out nor .body" >&2
  exit 2
fi
if [ -f "$case_path.err" ]; then cp "$case_path.err" "$tmp/want_err"; else : > "$tmp/want_err"; fi
want_status=0
[ -f "$case_path.status" ] && want_status=$(cat "$case_path.status")

fail=0
if ! cmp -s "$tmp/want" "$tmp/out"; then
  echo "standard output differs (- expected, + actual):"
  diff -u <(cat -A "$tmp/want") <(cat -A "$tmp/out") | head -60
  fail=1
fi
if ! cmp -s "$tmp/want_err" "$tmp/err"; then
  echo "standard error differs (- expected, + actual):"
  diff -u <(cat -A "$tmp/want_err") <(cat -A "$tmp/err") | head -30
  fail=1
fi
if [ "$status" != "$want_status" ]; then
  echo "exit status $status, expected $want_status"
  fail=1
fi
exit $fail
