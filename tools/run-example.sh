#!/usr/bin/env bash
# Builds the translator and translates a bundled example to standard output.
#   bash tools/run-example.sh [example.ic]
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh >&2
cmake -S . -B build > /dev/null
cmake --build build --target quorvelin -j "$(nproc)" > /dev/null
./build/quorvelin "${1:-examples/factorial.ic}"
