#!/usr/bin/env bash
# Benchmark: builds the translator in release mode (in build-bench), generates
# the input programs into bench/out/ and prints throughput, peak memory and the
# ratio to cat copying the same output, and the checker's time on the same
# input; then the same ratio on a small program
# (examples/factorial.ic), where start-up is most of the time.
#
#   bash bench/run.sh            the measurement (1M and 10M lines)
#   bash bench/run.sh --quick    a small input, one run: checks that it works;
#                                then bench/spim.sh --quick
#
# Further options (--runs N, --lines N, --big N, --small-runs N) go to
# bench/measure.py.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ " $* " == *" --quick "* ]] && [ -x build/quorvelin ] && [ -x build/quorvelin-check ]; then
  # A quick check that it works takes the commands of the test build (a
  # release build too); only the three small tools of the benchmark are
  # compiled, each a file of its own.
  tools=$(mktemp -d)
  trap 'rm -rf "$tools"' EXIT
  for t in gen spawn alternate; do
    c++ -std=c++20 -O2 -Wall -Wextra -o "$tools/qv_bench_$t" "bench/$t.cpp"
  done
  bin=build tool=$tools
else
  cmake -S bench -B build-bench > /dev/null
  # Only what is measured: the rest of the project need not be built again.
  cmake --build build-bench -j "$(nproc)" --target quorvelin quorvelin-check qv_bench_gen qv_bench_spawn \
    qv_bench_alternate > /dev/null
  bin=build-bench/quorvelin tool=build-bench
fi
python3 bench/measure.py --bin "$bin/quorvelin" --gen "$tool/qv_bench_gen" \
  --spawn "$tool/qv_bench_spawn" --alternate "$tool/qv_bench_alternate" \
  --check "$bin/quorvelin-check" "$@"
if [[ " $* " == *" --quick "* ]]; then
  [ -z "${tools:-}" ] || rm -rf "$tools"
  exec bash bench/spim.sh --quick
fi
