#!/usr/bin/env bash
# The checker's soundness test: a program on which quorvelin-check reports no
# error must load in SPIM without an assembler message.
#
#   run.sh BUILD_DIR COUNT [FIRST_SEED]
#
# For each seed, gen.py writes a random intermediate program (most with no
# defect or one); quorvelin-check looks at it; every program it passes is
# translated and loaded in SPIM with a trap file whose __start only exits, so
# nothing of the program runs.  Clean means standard output is exactly SPIM's
# five banner lines and standard error is empty; anything else (a syntax
# error, undefined symbols, a label defined twice, a hang) is a soundness
# failure: the program is kept as BUILD_DIR/soundness-failures/seed-N.ic and
# SPIM's message is printed.  At the end: how many programs the checker
# passed and rejected, and the rejections per rule.
#
# QV_SOUNDNESS_LOAD_ALL=1 also loads the rejected programs and counts, per
# rule, the rejected programs that load cleanly (where to look for false
# alarms; most are plain mistakes that load but misbehave).
# Exit status: 0 no soundness failure, 1 failures, 2 usage or setup error.
set -u
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 BUILD_DIR COUNT [FIRST_SEED]" >&2
  exit 2
fi
build=$1
count=$2
first=${3:-1}
here=$(cd "$(dirname "$0")" && pwd)
qv=$build/quorvelin
chk=$build/quorvelin-check
for t in "$qv" "$chk"; do
  [ -x "$t" ] || { echo "$0: $t not found (build first)" >&2; exit 2; }
done
command -v spim >/dev/null || { echo "$0: spim not found (tools/deps.sh installs it)" >&2; exit 2; }
command -v python3 >/dev/null || { echo "$0: python3 not found" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails_dir=$build/soundness-failures
mkdir -p "$fails_dir"

trapfile=$work/trap.s
printf '\t.text\n\t.globl __start\n__start:\tli $v0, 10\n\tsyscall\n' > "$trapfile"
banner=$(printf '%s\n' "SPIM Version 8.0 of January 8, 2010" "Copyright 1990-2010, James R. Larus." \
  "All Rights Reserved." "See the file README for a full copyright notice." "Loaded: $trapfile")

python3 "$here/gen.py" --batch "$work/progs" "$first" "$count" || { echo "$0: gen.py failed" >&2; exit 2; }

# Loads $1 (a .s file) in SPIM; sets load_msg to what SPIM said beyond its
# banner, empty when the load is clean.
load() {
  local out err rc
  timeout 10 spim -exception_file "$trapfile" -file "$1" < /dev/null > "$work/spim.out" 2> "$work/spim.err"
  rc=$?
  out=$(cat "$work/spim.out")
  err=$(cat "$work/spim.err")
  load_msg=""
  if [ $rc -eq 124 ]; then
    load_msg="timeout: SPIM did not finish loading in 10 s (hang)"
  elif [ "$out" != "$banner" ] || [ -n "$err" ]; then
    load_msg=$( { [ "$out" != "$banner" ] && printf '%s\n' "$out" | tail -n +6; printf '%s' "$err"; } | head -c 600)
    [ -n "$load_msg" ] || load_msg="unexpected banner"
  fi
}

passed=0 rejected=0 failures=0 clean_free=0
declare -A rule_progs=() rule_warn=() defect_seen=() defect_rej=() rej_clean=()
free_rejected=""

for ((s = first; s < first + count; s++)); do
  prog=$work/progs/seed-$s.ic
  defects=$(head -n 1 "$prog" | sed -n 's/.*: defects \([^[:space:]]*\).*/\1/p')
  for d in ${defects//,/ }; do defect_seen[$d]=$((${defect_seen[$d]:-0} + 1)); done
  "$chk" --color=never --max-errors 0 "$prog" > /dev/null 2> "$work/chk.err"
  rc=$?
  if [ $rc -eq 2 ]; then
    echo "seed $s: quorvelin-check failed with status 2:" >&2
    head -n 5 "$work/chk.err" >&2
    cp "$prog" "$fails_dir/seed-$s.ic"
    failures=$((failures + 1))
    continue
  fi
  # rule tags of errors and of warnings, once per program
  for r in $(grep -E '^[^ ].*: error: ' "$work/chk.err" | grep -oE '\[-W[a-z-]+\]$' | sort -u | tr -d '[]'); do
    rule_progs[${r#-W}]=$((${rule_progs[${r#-W}]:-0} + 1))
  done
  for r in $(grep -E '^[^ ].*: warning: ' "$work/chk.err" | grep -oE '\[-W[a-z-]+\]$' | sort -u | tr -d '[]'); do
    rule_warn[${r#-W}]=$((${rule_warn[${r#-W}]:-0} + 1))
  done
  if [ $rc -eq 1 ]; then
    rejected=$((rejected + 1))
    for d in ${defects//,/ }; do defect_rej[$d]=$((${defect_rej[$d]:-0} + 1)); done
    if [ "$defects" = none ]; then
      free_rejected+=" $s"
    fi
    if [ "${QV_SOUNDNESS_LOAD_ALL:-0}" = 1 ] || [ "$defects" = none ]; then
      if "$qv" "$prog" > "$work/prog.s" 2> /dev/null; then
        load "$work/prog.s"
        if [ -z "$load_msg" ]; then
          [ "$defects" = none ] && clean_free=$((clean_free + 1))
          for r in $(grep -E '^[^ ].*: error: ' "$work/chk.err" | grep -oE '\[-W[a-z-]+\]$' | sort -u | tr -d '[]'); do
            rej_clean[${r#-W}]=$((${rej_clean[${r#-W}]:-0} + 1))
          done
        fi
      fi
    fi
    continue
  fi
  passed=$((passed + 1))
  if ! "$qv" "$prog" > "$work/prog.s" 2> "$work/qv.err"; then
    echo "SOUNDNESS FAILURE seed $s: the translator failed: $(head -c 300 "$work/qv.err")"
    cp "$prog" "$fails_dir/seed-$s.ic"
    failures=$((failures + 1))
    continue
  fi
  load "$work/prog.s"
  if [ -n "$load_msg" ]; then
    echo "SOUNDNESS FAILURE seed $s (defects: $defects): kept as $fails_dir/seed-$s.ic"
    printf '%s\n' "$load_msg" | sed 's/^/    /'
    cp "$prog" "$fails_dir/seed-$s.ic"
    failures=$((failures + 1))
  fi
done

echo "programs: $count (seeds $first to $((first + count - 1)))"
echo "checker passed: $passed, rejected: $rejected, soundness failures: $failures"
echo "programs with an error of each rule:"
for r in $(printf '%s\n' "${!rule_progs[@]}" | sort); do
  line="  $r: ${rule_progs[$r]}"
  [ "${QV_SOUNDNESS_LOAD_ALL:-0}" = 1 ] && line+=" (of which load cleanly: ${rej_clean[$r]:-0})"
  echo "$line"
done
if [ ${#rule_warn[@]} -gt 0 ]; then
  echo "programs with a warning of each rule:"
  for r in $(printf '%s\n' "${!rule_warn[@]}" | sort); do echo "  $r: ${rule_warn[$r]}"; done
fi
echo "defects injected (programs with it / rejected):"
for d in $(printf '%s\n' "${!defect_seen[@]}" | sort); do
  echo "  $d: ${defect_seen[$d]} / ${defect_rej[$d]:-0}"
done
if [ -n "$free_rejected" ]; then
  n=$(wc -w <<< "$free_rejected")
  echo "programs without an injected defect that the checker rejected: $n ($clean_free load cleanly):"
  echo "  seeds$free_rejected" | fold -s -w 100
fi
[ $failures -eq 0 ]
