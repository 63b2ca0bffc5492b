#!/usr/bin/env bash
# Builds the translator and runs every test: unit, golden and SPIM end-to-end.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build > /dev/null
cmake --build build -j "$(nproc)"
ctest --test-dir build --output-on-failure -j "$(nproc)"
