#!/usr/bin/env bash
# Builds the fuzzers (the translator's and the checker's) with
# AddressSanitizer and UndefinedBehaviorSanitizer and runs each for half the
# given number of seconds on the seed corpus.
#
#   bash tests/fuzz/run.sh SECONDS [libFuzzer options...]
#
# Build directory: build-fuzz (or $QV_FUZZ_BUILD).  The growing corpus is kept
# in BUILD/corpus, so later runs go on from what earlier ones found; a crash
# leaves its input in BUILD/artifacts/ and makes this script fail.  Reproduce
# one with:  BUILD/quorvelin_fuzz BUILD/artifacts/crash-...
set -euo pipefail
seconds=${1:?usage: run.sh SECONDS [libFuzzer options...]}
shift
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
build=${QV_FUZZ_BUILD:-build-fuzz}

QV_WITH_FUZZ=1 bash tools/deps.sh
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQV_FUZZ=ON -DQV_SANITIZE=ON -DQV_TESTS=OFF > /dev/null
cmake --build "$build" --target quorvelin_fuzz quorvelin_check_fuzz -j "$(nproc)" > /dev/null

bash tests/fuzz/collect_seeds.sh "$build/corpus"
mkdir -p "$build/artifacts"
export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
# -max_len lets a single input hold lines of several hundred characters and
# a few hundred lines; -timeout turns a hang into a finding.
half=$(( (seconds + 1) / 2 ))
for target in quorvelin_fuzz quorvelin_check_fuzz; do
  echo "== $target for $half seconds"
  mkdir -p "$build/corpus-$target"
  "$build/$target" -max_total_time="$half" -max_len=8192 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/artifacts/" \
    -dict=tests/fuzz/translate.dict \
    "$@" "$build/corpus-$target" "$build/corpus"
done
