#!/usr/bin/env bash
# The whole loop on a bundled example: builds the commands, translates the
# program into an assembly file, says where it went, and runs the program in
# SPIM with quorvelin-run, whose standard output is the program's own.
#   bash tools/run-example.sh [example.ic]
# The set-up and the build report their progress on standard error.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh >&2
echo "building quorvelin and quorvelin-run in build/ (a minute or two the first time):" >&2
cmake -S . -B build > /dev/null
# make's own progress lines ("[ 40%] Building CXX object ..."), as they come.
cmake --build build --target quorvelin quorvelin-run -j "$(nproc)" |
  { grep --line-buffered '^\[' || true; } >&2
program=${1:-examples/factorial.ic}
asm=build/$(basename "$program" .ic).s
./build/quorvelin "$program" > "$asm"
echo "quorvelin: $program translated into $asm ($(wc -l < "$asm") lines of MIPS assembly)"
echo "quorvelin-run: running $program in SPIM:"
./build/quorvelin-run "$program"
