#!/usr/bin/env bash
# SPIM under quorvelin-run and quorvelin-debug against a bare `spim -file` of
# the same translated program, each goal printed with its target:
#   (1) quorvelin-run on bench/compute.ic (6.2M instructions): within 0.1x
#       of spim -file, whose timer costs a system call per instruction;
#   (2) the debugger's continue over the same program: within 0.1x;
#   (3) quorvelin-run --trace: at least 10,000 lines a second;
#   (4) quorvelin-run examples/factorial.ic, where start-up is most of the
#       time: within 1.2x (bench/runner.py).
# Builds the commands in release mode in build-bench (as bench/run.sh does).
#
#   bash bench/spim.sh            the measurement, about 2 minutes
#   bash bench/spim.sh --quick    a small program, one run: checks that it works
#
# Further options (--runs N, --trace-lines N, --trace-runs N,
# --factorial-runs N) go to bench/spim.py.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v spim > /dev/null || { echo "spim is not installed" >&2; exit 1; }
# A quick check that it works takes the commands of the test build when there
# are any: building them again would take longer than the check.
if [[ " $* " == *" --quick "* ]] && [ -x build/quorvelin-run ] && [ -x build/quorvelin-debug ]; then
  exec python3 bench/spim.py --bin build "$@"
fi
cmake -S bench -B build-bench > /dev/null
cmake --build build-bench -j "$(nproc)" --target quorvelin quorvelin-run quorvelin-debug > /dev/null
exec python3 bench/spim.py --bin build-bench/quorvelin "$@"
