#!/usr/bin/env bash
# The checker must never refuse a valid program.
#
#   valid_run.sh BUILD_DIR COUNT [FIRST_SEED]
#
# valid.py writes COUNT valid, runnable programs (seeds FIRST_SEED, ...) with
# their exact expected console output.  Each program is then
#   1. run with `quorvelin-run --no-check`: it must exit 0 and print exactly
#      the expected output, or the program itself is bad (a GENERATOR bug);
#   2. checked with quorvelin-check: it must print nothing and exit 0, or the
#      checker raised a FALSE ALARM;
#   3. run with quorvelin-run (checker included): it must exit 0 and print
#      exactly the expected output, or it is a RUN failure.
# Failing programs are kept in BUILD_DIR/valid-failures/ with what the tools
# said.  The summary counts each class and, for false alarms, the programs
# per rule name.  Programs run in parallel (QV_JOBS, default: the number of
# processors).  QV_VALID_SKIP_CHECKER=1 leaves out steps 2 and 3 (a test of
# the generator and the translator alone).  Exit status: 0 when there is no false alarm, run failure or
# generator bug; 1 otherwise; 2 usage or setup error.
set -u
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 BUILD_DIR COUNT [FIRST_SEED]" >&2
  exit 2
fi
build=$(cd "$1" 2>/dev/null && pwd) || { echo "$0: no directory $1" >&2; exit 2; }
count=$2
first=${3:-1}
here=$(cd "$(dirname "$0")" && pwd)
for t in quorvelin-check quorvelin-run; do
  [ -x "$build/$t" ] || { echo "$0: $build/$t not found (build first)" >&2; exit 2; }
done
command -v spim >/dev/null || { echo "$0: spim not found" >&2; exit 2; }
command -v python3 >/dev/null || { echo "$0: python3 not found" >&2; exit 2; }
jobs=${QV_JOBS:-$(nproc 2>/dev/null || echo 2)}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=$build/valid-failures
mkdir -p "$fails" "$work/progs" "$work/res"

start=$(date +%s.%N)
# Generation, in chunks of 25 seeds side by side.
chunk=25
for ((s = first; s < first + count; s += chunk)); do
  n=$((first + count - s))
  [ $n -gt $chunk ] && n=$chunk
  echo "$s $n"
done | xargs -P "$jobs" -n 2 python3 "$here/valid.py" --batch "$work/progs" ||
  { echo "$0: valid.py failed" >&2; exit 2; }

# The same seeds must give the same files.
n=$((count < 5 ? count : 5))
python3 "$here/valid.py" --batch "$work/again" "$first" "$n" &&
  for f in "$work/again"/*; do cmp -s "$f" "$work/progs/${f##*/}" || echo "$f"; done > "$work/nondet"
if [ -s "$work/nondet" ] || [ ! -d "$work/again" ]; then
  echo "GENERATOR BUG: valid.py gives other files for the same seed:" $(cat "$work/nondet")
  nondet=1
else
  nondet=0
fi

# One program: writes one result line "SEED CLASS [RULE ...]" to res/SEED.
one() {
  local s=$1 dir=$work/progs files=() n=2 input=/dev/null tmp=$work/tmp-$1 rc
  files=("$dir/seed-$s.ic")
  while [ -f "$dir/seed-$s.$n.ic" ]; do files+=("$dir/seed-$s.$n.ic"); n=$((n + 1)); done
  [ -f "$dir/seed-$s.in" ] && input=$dir/seed-$s.in
  mkdir -p "$tmp"
  keep() {
    mkdir -p "$fails"
    cp "${files[@]}" "$dir/seed-$s.out" "$fails/"
    [ "$input" != /dev/null ] && cp "$input" "$fails/"
    cat "$tmp/log" > "$fails/seed-$s.log"
  }
  : > "$tmp/log"
  # 1. the program itself
  timeout 120 "$build/quorvelin-run" --no-check --cpu-limit 30 "${files[@]}" < "$input" > "$tmp/out" 2> "$tmp/err"
  rc=$?
  if [ $rc -ne 0 ] || ! cmp -s "$tmp/out" "$dir/seed-$s.out"; then
    { echo "== quorvelin-run --no-check: status $rc"; head -c 3000 "$tmp/err"
      echo "== output (- expected, + actual)"
      diff <(cat -A "$dir/seed-$s.out") <(cat -A "$tmp/out") | head -40; } >> "$tmp/log"
    keep
    echo "$s generator" > "$work/res/$s"
    rm -rf "$tmp"
    return
  fi
  local result="ok" rules=""
  if [ "${QV_VALID_SKIP_CHECKER:-0}" = 1 ]; then
    echo "$s ok" > "$work/res/$s"
    rm -rf "$tmp"
    return
  fi
  # 2. the checker
  "$build/quorvelin-check" --color=never --max-errors 0 "${files[@]}" < /dev/null > "$tmp/chk" 2>&1
  rc=$?
  if [ $rc -ne 0 ] || [ -s "$tmp/chk" ]; then
    rules=$(grep -E '^[^ ].*: (error|warning): ' "$tmp/chk" | sed -E 's/^.*: (error|warning): .*\[-W([a-z-]+)\]$/\2:\1/' |
      grep -E '^[a-z-]+:(error|warning)$' | sort -u | tr '\n' ' ')
    [ -n "$rules" ] || rules="unnamed:error"
    { echo "== quorvelin-check: status $rc"; cat "$tmp/chk"; } >> "$tmp/log"
    result="alarm"
  fi
  # 3. the run with the checker
  timeout 120 "$build/quorvelin-run" --cpu-limit 30 "${files[@]}" < "$input" > "$tmp/out" 2> "$tmp/err"
  rc=$?
  if [ "$result" = ok ] && { [ $rc -ne 0 ] || ! cmp -s "$tmp/out" "$dir/seed-$s.out"; }; then
    { echo "== quorvelin-run: status $rc"; head -c 3000 "$tmp/err"
      diff <(cat -A "$dir/seed-$s.out") <(cat -A "$tmp/out") | head -40; } >> "$tmp/log"
    result="run"
  fi
  [ "$result" != ok ] && keep
  echo "$s $result $rules" > "$work/res/$s"
  rm -rf "$tmp"
}
export -f one
export work build fails
export QV_VALID_SKIP_CHECKER=${QV_VALID_SKIP_CHECKER:-0}

seq "$first" $((first + count - 1)) | xargs -P "$jobs" -I{} bash -c 'one {}'
end=$(date +%s.%N)

cat "$work"/res/* > "$work/all" 2>/dev/null
total=$(wc -l < "$work/all")
ok=$(awk '$2 == "ok"' "$work/all" | wc -l)
alarm=$(awk '$2 == "alarm"' "$work/all" | wc -l)
run=$(awk '$2 == "run"' "$work/all" | wc -l)
gen=$(awk '$2 == "generator"' "$work/all" | wc -l)
echo "programs: $total of $count (seeds $first to $((first + count - 1))), $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }') s"
echo "clean: $ok"
echo "checker false alarms: $alarm"
if [ "$alarm" -gt 0 ]; then
  echo "  programs per rule (a program counts once per rule):"
  awk '$2 == "alarm" { for (i = 3; i <= NF; i++) print $i }' "$work/all" | sort | uniq -c | sort -rn |
    awk '{ printf "    %-32s %d\n", $2, $1 }'
  echo "  seeds: $(awk '$2 == "alarm" { print $1 }' "$work/all" | sort -n | head -30 | tr '\n' ' ')"
fi
if [ "$alarm" -gt 0 ]; then
  echo "  diagnostics on valid programs, by message (quoted text and numbers folded; one example each):"
  awk '$2 == "alarm" { print $1 }' "$work/all" | sort -n | python3 -c '
import re, sys
fails, seen = sys.argv[1], {}
for seed in sys.stdin.read().split():
    text = open("%s/seed-%s.log" % (fails, seed), errors="replace").read()
    part = text.split("== quorvelin-check", 1)[-1].split("\n== ", 1)[0]
    for m in re.finditer(r"^\S.*?: (error|warning): (.*)$", part, re.M):
        shape = re.sub(r"\x27\x27.\x27\x27|\x27[^\x27]*\x27", "\x27X\x27", m.group(2))
        k = (m.group(1), re.sub(r"[0-9]+", "N", shape))
        if k not in seen:
            seen[k] = [0, "seed-%s: %s" % (seed, m.group(2))]
        seen[k][0] += 1
for (kind, shape), (n, ex) in sorted(seen.items(), key=lambda x: -x[1][0]):
    print("    %5d %s: %s\n          e.g. %s" % (n, kind, shape, ex))
' "$fails"
fi
echo "run failures (checker quiet, quorvelin-run failed): $run"
[ "$run" -gt 0 ] && echo "  seeds: $(awk '$2 == "run" { print $1 }' "$work/all" | sort -n | head -30 | tr '\n' ' ')"
echo "generator bugs (the program fails even with --no-check): $gen"
[ "$gen" -gt 0 ] && echo "  seeds: $(awk '$2 == "generator" { print $1 }' "$work/all" | sort -n | head -30 | tr '\n' ' ')"
[ $((alarm + run + gen)) -gt 0 ] && echo "kept in $fails"
[ "$total" -eq "$count" ] && [ $((alarm + run + gen + nondet)) -eq 0 ]
