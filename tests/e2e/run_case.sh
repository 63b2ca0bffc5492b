#!/usr/bin/env bash
# Translates one intermediate program, runs it in SPIM and compares what it
# prints on the console.
#
#   run_case.sh QUORVELIN DIR/NAME
#
# A program is a set of files sharing NAME:
#   NAME.ic      the (first) input file
#   NAME.2.ic    optional further input files of the same program, given to
#   NAME.3.ic    the translator after NAME.ic in the order of their numbers
#   ...
#   NAME.in      optional console input (without it SPIM reads /dev/null)
#   NAME.out     the exact console output, SPIM's own five lines excluded
#
# The case fails when the translator writes to standard error anything but
# "floating reg is" lines or exits with a status other than 0; when SPIM's
# banner is missing, SPIM writes anything to standard error, reports undefined
# symbols or runs longer than E2E_TIMEOUT seconds (default 60); and when the
# console output differs from NAME.out in any byte.
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

(cd "$dir" && timeout 20 "$bin" "${files[@]}" > "$tmp/prog.s" 2> "$tmp/qv_err" < /dev/null)
status=$?
[ "$status" = 0 ] || fail "translator exit status $status"
if grep -v '^floating reg is ' "$tmp/qv_err" > "$tmp/qv_other"; then
  echo "translator standard error:"
  head -20 "$tmp/qv_other"
  fail "unexpected translator standard error"
fi

input=/dev/null
[ -f "$case_path.in" ] && input=$case_path.in
timeout "$limit" spim -file "$tmp/prog.s" < "$input" > "$tmp/spim_out" 2> "$tmp/spim_err"
status=$?
if [ "$status" = 124 ]; then
  echo "output so far:"
  tail -n +6 "$tmp/spim_out" | head -c 2000
  fail "SPIM timed out after $limit s"
fi

printf '%s\n' \
  "SPIM Version 8.0 of January 8, 2010" \
  "Copyright 1990-2010, James R. Larus." \
  "All Rights Reserved." \
  "See the file README for a full copyright notice." > "$tmp/banner"
if ! head -n 4 "$tmp/spim_out" | cmp -s - "$tmp/banner" ||
   ! sed -n 5p "$tmp/spim_out" | grep -q '^Loaded: '; then
  echo "SPIM's standard output begins:"
  head -n 5 "$tmp/spim_out"
  fail "SPIM banner missing"
fi

bad=0
if [ -s "$tmp/spim_err" ]; then
  echo "SPIM standard error:"
  head -c 2000 "$tmp/spim_err"
  bad=1
fi
tail -n +6 "$tmp/spim_out" > "$tmp/out"
if grep -q '^The following symbols are undefined:' "$tmp/out"; then
  echo "SPIM reports undefined symbols:"
  sed -n '/^The following symbols are undefined:/,/^$/p' "$tmp/out" | head -20
  bad=1
fi
if ! cmp -s "$case_path.out" "$tmp/out"; then
  echo "console output differs (- expected, + actual):"
  diff -u <(cat -A "$case_path.out") <(cat -A "$tmp/out") | head -60
  bad=1
fi
[ "$bad" = 0 ] || fail "failed"
exit 0
