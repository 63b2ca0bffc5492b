#!/usr/bin/env bash
# Builds the fuzzers (the translator's, the checker's, and the message layers
# of the language server and the debug adapter) with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs each for a quarter of the given number
# of seconds on its seeds.
#
#   bash tests/fuzz/run.sh SECONDS [libFuzzer options...]
#
# Build directory: build-fuzz (or $QV_FUZZ_BUILD, which may be a tree
# configured with -DQV_FUZZ=ON already).  The growing corpus is kept
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
# A tree configured for the fuzzers already (tools/run-tests.sh's sanitizer
# tree builds them beside the tests) is taken as it is.
if ! grep -qx 'QV_FUZZ:BOOL=ON' "$build/CMakeCache.txt" 2> /dev/null; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQV_FUZZ=ON -DQV_SANITIZE=ON -DQV_TESTS=OFF > /dev/null
fi
targets=(quorvelin_fuzz quorvelin_check_fuzz quorvelin_lsp_fuzz quorvelin_dap_fuzz)
cmake --build "$build" --target "${targets[@]}" -j "$(nproc)" > /dev/null

bash tests/fuzz/collect_seeds.sh "$build/corpus"
mkdir -p "$build/artifacts"
export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
# -max_len lets a single input hold lines of several hundred characters and
# a few hundred lines; -timeout turns a hang into a finding.
share=$(( (seconds + ${#targets[@]} - 1) / ${#targets[@]} ))
for target in "${targets[@]}"; do
  echo "== $target for $share seconds"
  mkdir -p "$build/corpus-$target"
  # The language server's and the debug adapter's targets read protocol
  # messages, not programs.
  seeds=$build/corpus dict=tests/fuzz/translate.dict
  case $target in
    quorvelin_lsp_fuzz) seeds=tests/fuzz/seeds-lsp dict=tests/fuzz/lsp.dict ;;
    quorvelin_dap_fuzz) seeds=tests/fuzz/seeds-dap dict=tests/fuzz/dap.dict ;;
  esac
  "$build/$target" -max_total_time="$share" -max_len=8192 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/artifacts/" \
    -dict="$dict" \
    "$@" "$build/corpus-$target" "$seeds"
done
