#!/usr/bin/env bash
# The library preloaded into SPIM must change nothing a program can see: every
# program runs twice, with it and without it (QV_SPIM_PRELOAD set and empty),
# and standard output, standard error and the exit status must be the same
# bytes.  Programs: the end-to-end ones (tests/e2e, examples), the runner's
# cases (tests/run, with their arguments and input) and GENERATED programs of
# the valid-program generator from seed FIRST on.
#
#   preload_same.sh QUORVELIN_RUN [GENERATED [FIRST]]   (defaults: 50, 1)
#
# A few thousand generated programs are a run by hand; QV_JOBS of them run
# side by side (default: the number of processors).
set -u
bin=$(realpath "$1")
count=${2:-50}
first=${3:-1}
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Without this the two runs would be the same run: the library must load in
# the first and not in the second.
printf 'cls C, C\nntr Main, 0\n\trtn 1\nend 1, C, Main\n' > "$work/empty.ic"
"$bin" --stats "$work/empty.ic" 2>&1 < /dev/null | grep -q 'instructions executed' ||
  { echo "the library does not load (no instruction count with --stats)"; exit 1; }
QV_SPIM_PRELOAD= "$bin" --stats "$work/empty.ic" 2>&1 < /dev/null | grep -q 'cannot be counted' ||
  { echo "QV_SPIM_PRELOAD= does not leave the library out"; exit 1; }

# same NAME DIR INPUT ARGS...: runs from DIR; prints what differs.
same() {
  local name=$1 dir=$2 input=$3 t=$work/$BASHPID a report
  shift 3
  mkdir -p "$t"
  (cd "$dir" && timeout 300 "$bin" "$@" < "$input" > "$t/out.with" 2> "$t/err.with"; echo $? > "$t/status.with")
  (cd "$dir" && QV_SPIM_PRELOAD= timeout 300 "$bin" "$@" < "$input" > "$t/out.without" 2> "$t/err.without"
   echo $? > "$t/status.without")
  for a in status out err; do
    if ! cmp -s "$t/$a.with" "$t/$a.without"; then
      echo "$name: $a differs (- with the library, + without):"
      diff -u <(cat -A "$t/$a.with") <(cat -A "$t/$a.without") | tail -n +3 | head -30
    fi
  done > "$t/report"
  # In one piece: programs run side by side.
  report=$(cat "$t/report")
  rm -rf "$t"
  [ -z "$report" ] || { echo "$report"; return 1; }
}

# files_of DIR/NAME: NAME.ic and its further files NAME.2.ic, ...
files_of() {
  local n=2
  files=("${1##*/}.ic")
  while [ -f "$1.$n.ic" ]; do files+=("${1##*/}.$n.ic"); n=$((n + 1)); done
}

fail=0
for ic in "$here"/*.ic "$top"/examples/*.ic; do
  base=${ic%.ic}
  [[ $base =~ \.[0-9]+$ ]] && continue
  files_of "$base"
  input=/dev/null
  [ -f "$base.in" ] && input=$base.in
  same "${base#"$top"/}" "${base%/*}" "$input" --cpu-limit 60 "${files[@]}" || fail=1
done

for ic in "$top"/tests/run/*.ic; do
  base=${ic%.ic}
  [[ $base =~ \.[0-9]+$ ]] && continue
  [ -f "$base.sh" ] && continue
  args=("${base##*/}.ic")
  [ -f "$base.args" ] && mapfile -t args < "$base.args"
  # Instruction counts are what the library adds: those runs differ on purpose.
  [[ " ${args[*]} " =~ " --max-instructions "|" --stats " ]] && continue
  input=/dev/null
  [ -f "$base.in" ] && input=$base.in
  same "${base#"$top"/}" "${base%/*}" "$input" "${args[@]}" || fail=1
done

if [ "$count" -gt 0 ]; then
  mkdir "$work/gen"
  python3 "$top/tests/check/soundness/valid.py" --batch "$work/gen" "$first" "$count" ||
    { echo "valid.py failed"; exit 1; }
  one() {
    local input=/dev/null
    files_of "$work/gen/seed-$1"
    [ -f "$work/gen/seed-$1.in" ] && input=$work/gen/seed-$1.in
    same "seed $1" "$work/gen" "$input" --cpu-limit 30 "${files[@]}"
  }
  export -f same files_of one
  export bin work
  seq "$first" $((first + count - 1)) |
    xargs -P "${QV_JOBS:-$(nproc 2>/dev/null || echo 2)}" -I{} bash -c 'one {}' || fail=1
fi
exit $fail
