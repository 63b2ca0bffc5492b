#!/usr/bin/env bash
# Runs one batch session of quorvelin-debug and compares its transcript.
#
#   run_case.sh QUORVELIN_DEBUG DIR/NAME
#
# NAME.ic is the program, NAME.args its arguments (optional), NAME.cmd the
# commands (standard input), NAME.out
# the exact standard output, NAME.status the exit status (default 0);
# standard error must be empty.
set -u
bin=$(realpath "$1")
dir=$(dirname "$2")
name=$(basename "$2")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$dir" || exit 1
# NAME.args: the program's arguments, one a line.
args=()
if [ -f "$name.args" ]; then
  while IFS= read -r a || [ -n "$a" ]; do args+=("$a"); done < "$name.args"
fi
timeout 60 "$bin" --batch "$name.ic" -- "${args[@]}" < "$name.cmd" > "$tmp/out" 2> "$tmp/err"
status=$?
bad=0
want=0
[ -f "$name.status" ] && want=$(cat "$name.status")
if [ "$status" != "$want" ]; then
  echo "exit status $status, expected $want"
  bad=1
fi
if ! cmp -s "$name.out" "$tmp/out"; then
  echo "transcript differs (- expected, + actual):"
  diff -u "$name.out" "$tmp/out" | head -60
  bad=1
fi
if [ -s "$tmp/err" ]; then
  echo "unexpected standard error:"
  head -c 3000 "$tmp/err"
  bad=1
fi
exit $bad
