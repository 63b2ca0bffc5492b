#!/usr/bin/env bash
# The whole loop on a bundled example: builds the commands, translates the
# program into an assembly file, says where it went, and runs the program in
# SPIM with quorvelin-run, whose standard output is the program's own.
#   bash tools/run-example.sh [example.ic]
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh >&2
cmake -S . -B build > /dev/null
cmake --build build --target quorvelin quorvelin-run -j "$(nproc)" > /dev/null
program=${1:-examples/factorial.ic}
asm=build/$(basename "$program" .ic).s
./build/quorvelin "$program" > "$asm"
echo "quorvelin: $program translated into $asm ($(wc -l < "$asm") lines of MIPS assembly)"
echo "quorvelin-run: running $program in SPIM:"
./build/quorvelin-run "$program"
