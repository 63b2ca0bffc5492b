#!/usr/bin/env bash
# An instruction limit stops a program at the same instruction however busy
# the machine is: ten runs beside two busy processes must print the same
# bytes, give the same message (placed by the second run in SPIM's command
# mode) and end with the same status.
#
#   limit_load.sh QUORVELIN_RUN
set -u
bin=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
busy=()
trap 'for p in "${busy[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$work"' EXIT
for _ in 1 2; do
  # Bounded in time too, should this script be killed before its trap runs.
  timeout 600 yes > /dev/null &
  busy+=($!)
done

# Counts up for ever, printing as it goes; 5M stops it inside a call.
cd "$here/../run" || exit 1
for i in $(seq 10); do
  "$bin" --max-instructions 5M stopcall.ic < /dev/null > "$work/out.$i" 2> "$work/err.$i"
  echo $? > "$work/status.$i"
done

fail=0
if [ "$(cat "$work/status.1")" != 3 ] || ! grep -q '^stopcall\.ic:[0-9]*:[0-9]*: error: .*limit' "$work/err.1"; then
  echo "the limit did not stop the program at a line: status $(cat "$work/status.1")"
  head -c 2000 "$work/err.1"
  fail=1
fi
for i in $(seq 2 10); do
  for f in status out err; do
    if ! cmp -s "$work/$f.1" "$work/$f.$i"; then
      echo "run $i: $f differs from run 1's:"
      diff <(tail -c 2000 "$work/$f.1") <(tail -c 2000 "$work/$f.$i") | head -20
      fail=1
    fi
  done
done
exit $fail
