#!/usr/bin/env bash
# quorvelin-test on a suite of small tests (copies of examples/factorial.ic
# with its .out), against its goals:
#   (1) 1,000 tests in at most 10 s with the default -j (the processors);
#   (2) with -j 1, per test at most 1.2x a bare quorvelin-run of it;
#   (3) memory flat in the size of the suite (peak RSS, 100 against 1,000).
#   bash bench/suite.sh [BUILD-DIR]      default: build (the test build)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$(realpath "${1:-build}")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
make_suite() {  # DIR COUNT
  mkdir -p "$1"
  for i in $(seq 1 "$2"); do
    cp examples/factorial.ic "$1/t$i.ic"
    cp examples/factorial.out "$1/t$i.out"
  done
}
make_suite "$tmp/s1000" 1000
make_suite "$tmp/s100" 100
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
secs() { /usr/bin/time -f %e "$@" 2>&1 > /dev/null | tail -1; }

t=$(for k in 1 2 3; do secs "$bin/quorvelin-test" "$tmp/s1000"; done | median)
echo "(1) 1000 tests, -j $(nproc): $t s (target <= 10): $(awk -v t="$t" 'BEGIN {print (t <= 10) ? "met" : "NOT met"}')"

# Alternating: the suite with -j 1, then the same 100 programs run one by one.
for k in 1 2 3; do
  a=$(secs "$bin/quorvelin-test" -j 1 "$tmp/s100")
  b=$(secs bash -c "for f in $tmp/s100/*.ic; do $bin/quorvelin-run \$f > /dev/null; done")
  echo "$a $b"
done > "$tmp/pairs"
a=$(cut -d' ' -f1 "$tmp/pairs" | median)
b=$(cut -d' ' -f2 "$tmp/pairs" | median)
echo "(2) -j 1, 100 tests: $a s; 100 bare quorvelin-run: $b s; ratio $(awk -v a="$a" -v b="$b" \
  'BEGIN {r = a / b; printf "%.2f (target <= 1.2): %s", r, (r <= 1.2) ? "met" : "NOT met"}')"

m100=$(/usr/bin/time -f %M "$bin/quorvelin-test" "$tmp/s100" 2>&1 > /dev/null | tail -1)
m1000=$(/usr/bin/time -f %M "$bin/quorvelin-test" "$tmp/s1000" 2>&1 > /dev/null | tail -1)
echo "(3) peak RSS: 100 tests $m100 KB, 1000 tests $m1000 KB: $(awk -v a="$m100" -v b="$m1000" \
  'BEGIN {print (b <= a * 1.25 + 1024) ? "flat" : "NOT flat"}')"
