#!/usr/bin/env bash
# quorvelin-run against a bare `spim -file` of the already translated program
# (examples/factorial.ic by default): builds in release mode (in
# build-runner-bench), then times both, alternating, and prints the medians.
#
#   bash bench/runner.sh [--runs N] [PROGRAM.ic]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-runner-bench -DQV_TESTS=OFF -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build-runner-bench -j "$(nproc)" --target quorvelin quorvelin-run > /dev/null
args=("$@")
if [ "${#args[@]}" = 0 ] || [[ "${args[-1]}" != *.ic ]]; then args+=(examples/factorial.ic); fi
exec python3 bench/runner.py --runner build-runner-bench/quorvelin-run --translator build-runner-bench/quorvelin "${args[@]}"
