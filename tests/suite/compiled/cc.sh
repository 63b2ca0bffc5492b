#!/bin/sh
# A stand-in for a student's compiler: its "source" is intermediate code with
# directives in comments.  "//#fail" makes it fail; "//#hang" makes it hang;
# "//#flip" makes it add one to the printed number on every other run (state
# in $QV_FLIP_STATE).
src=$1 out=$2
if grep -q '//#fail' "$src"; then
  echo "cc: $src:1: error: planted failure" >&2
  exit 1
fi
if grep -q '//#hang' "$src"; then
  sleep 600
fi
if grep -q '//#flip' "$src" && [ -n "${QV_FLIP_STATE:-}" ]; then
  n=$(cat "$QV_FLIP_STATE" 2>/dev/null || echo 0)
  echo $((1 - n)) > "$QV_FLIP_STATE"
  sed "s/cst 42, r0/cst $((42 + n)), r0/" "$src" > "$out"
  exit
fi
cp "$src" "$out"
