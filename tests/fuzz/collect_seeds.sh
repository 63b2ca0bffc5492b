#!/usr/bin/env bash
# Fills a corpus directory for the fuzzer from the repository's inputs: the
# committed seeds in tests/fuzz/seeds/, every golden and end-to-end input and
# the examples, each as a one-file input, and neighbouring inputs paired as
# two-file inputs.
#
#   bash tests/fuzz/collect_seeds.sh CORPUS_DIR
#
# The first byte of a fuzzer input chooses the layout (see fuzz_translate.cpp):
# 0x00 is one file; an odd byte 2k+1 is two files, split at k/128 of the rest.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
corpus=$1
mkdir -p "$corpus"

add() {  # add FILE: stores FILE's bytes under their hash
  local h
  h=$(sha1sum < "$1" | cut -c1-40)
  cp "$1" "$corpus/$h"
}

cp "$root"/tests/fuzz/seeds/* "$corpus"/ 2>/dev/null || true

tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
inputs=()
while IFS= read -r -d '' f; do
  # Big inputs slow every run down without reaching new code.
  [ "$(stat -c %s "$f")" -le 16384 ] && inputs+=("$f")
done < <(find "$root/tests/golden" "$root/tests/e2e" "$root/examples" -name '*.ic' -type f -print0 2>/dev/null | sort -z)

prev=""
for f in "${inputs[@]}"; do
  { printf '\0'; cat "$f"; } > "$tmp"
  add "$tmp"
  if [ -n "$prev" ]; then
    # Split near the end of the first file.
    a=$(stat -c %s "$prev")
    b=$(stat -c %s "$f")
    k=$(( a * 128 / (a + b + 1) ))
    printf -v byte '\\x%02x' $(( 2 * k + 1 ))
    { printf "$byte"; cat "$prev" "$f"; } > "$tmp"
    add "$tmp"
  fi
  prev=$f
done
echo "corpus: $(ls "$corpus" | wc -l) inputs in $corpus"
