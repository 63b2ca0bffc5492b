#!/usr/bin/env bash
# Runs one quorvelin-run case and compares how the run ended.
#
#   run_case.sh QUORVELIN_RUN QUORVELIN DIR/NAME
#
# A case is a set of files sharing NAME, run from DIR:
#   NAME.sh      a script run with RUNNER and QUORVELIN set; its exit status
#                is the verdict (for cases that need a driver); or
#   NAME.args    the runner's arguments, one a line (default: NAME.ic)
#   NAME.in      standard input (default: /dev/null)
#   NAME.out     the expected standard output (default: empty)
#   NAME.err     the expected standard error, exactly, or
#   NAME.grep    fixed strings that standard error must contain, one a line
#   NAME.status  the expected exit status (default: 0)
set -u
bin=$(realpath "$1")
qv=$(realpath "$2")
case_path=$3
dir=$(dirname "$case_path")
name=$(basename "$case_path")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$dir" || exit 1

if [ -f "$name.sh" ]; then
  RUNNER=$bin QUORVELIN=$qv TMP=$tmp bash "$name.sh"
  exit
fi

args=("$name.ic")
if [ -f "$name.args" ]; then
  args=()
  while IFS= read -r a || [ -n "$a" ]; do args+=("$a"); done < "$name.args"
fi
input=/dev/null
[ -f "$name.in" ] && input=$name.in

timeout 60 "$bin" "${args[@]}" < "$input" > "$tmp/out" 2> "$tmp/err"
status=$?

bad=0
want=0
[ -f "$name.status" ] && want=$(cat "$name.status")
if [ "$status" != "$want" ]; then
  echo "exit status $status, expected $want"
  bad=1
fi
[ -f "$name.out" ] && cp "$name.out" "$tmp/want_out" || : > "$tmp/want_out"
if ! cmp -s "$tmp/want_out" "$tmp/out"; then
  echo "standard output differs (- expected, + actual):"
  diff -u "$tmp/want_out" "$tmp/out" | head -40
  bad=1
fi
if [ -f "$name.err" ]; then
  if ! cmp -s "$name.err" "$tmp/err"; then
    echo "standard error differs (- expected, + actual):"
    diff -u "$name.err" "$tmp/err" | head -60
    bad=1
  fi
elif [ -f "$name.grep" ]; then
  while IFS= read -r t || [ -n "$t" ]; do
    if ! grep -qF -- "$t" "$tmp/err"; then
      echo "standard error lacks: $t"
      bad=1
    fi
  done < "$name.grep"
  [ "$bad" = 1 ] && { echo "standard error:"; head -c 3000 "$tmp/err"; }
elif [ -s "$tmp/err" ]; then
  echo "unexpected standard error:"
  head -c 3000 "$tmp/err"
  bad=1
fi
exit $bad
