#!/usr/bin/env bash
# Builds the translator and runs every test: unit, golden and SPIM end-to-end;
# then the unit and golden tests once more under AddressSanitizer and
# UndefinedBehaviorSanitizer, a quick run of the benchmark, and the fuzzer for
# a minute on its seed corpus.
#   bash tools/run-tests.sh
# QV_FUZZ_SECONDS sets the fuzzing time (0 skips the fuzzer).
set -euo pipefail
cd "$(dirname "$0")/.."
QV_WITH_FUZZ=1 bash tools/deps.sh
jobs=$(nproc)

cmake -S . -B build > /dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== unit and golden tests under ASan and UBSan"
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_SANITIZE=ON > /dev/null
cmake --build build-asan -j "$jobs" --target quorvelin unit_tests
ctest --test-dir build-asan --output-on-failure -j "$jobs" -E '^e2e'

echo "== the benchmark works"
bash bench/run.sh --quick

seconds=${QV_FUZZ_SECONDS:-60}
if [ "$seconds" -gt 0 ]; then
  echo "== fuzzing for $seconds seconds"
  bash tests/fuzz/run.sh "$seconds"
fi
