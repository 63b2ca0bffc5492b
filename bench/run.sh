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
cmake -S bench -B build-bench > /dev/null
# Only what is measured: the rest of the project need not be built again.
cmake --build build-bench -j "$(nproc)" --target quorvelin quorvelin-check qv_bench_gen qv_bench_spawn \
  qv_bench_alternate > /dev/null
python3 bench/measure.py --bin build-bench/quorvelin/quorvelin --gen build-bench/qv_bench_gen \
  --spawn build-bench/qv_bench_spawn --alternate build-bench/qv_bench_alternate \
  --check build-bench/quorvelin/quorvelin-check "$@"
if [[ " $* " == *" --quick "* ]]; then exec bash bench/spim.sh --quick; fi
