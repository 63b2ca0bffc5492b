# The runner's own failures: status 4 and a message in its own name.
set -u
expect() {  # STATUS TEXT ARGS...
  local want=$1 text=$2
  shift 2
  "$RUNNER" "$@" < /dev/null > "$TMP/out" 2> "$TMP/err"
  local status=$?
  if [ "$status" != "$want" ] || ! grep -qF -- "$text" "$TMP/err" "$TMP/out"; then
    echo "quorvelin-run $*: status $status, expected $want with \"$text\":"
    cat "$TMP/err"
    exit 1
  fi
}
expect 4 "quorvelin-run: error: no input file"
expect 4 "unknown option '--bogus'" --bogus args.ic
expect 4 "--cpu-limit wants" --cpu-limit 0 args.ic
expect 4 "--stack wants" --stack 12x args.ic
expect 4 "--max-instructions wants" --max-instructions 0 args.ic
expect 4 "--max-instructions wants" --max-instructions abc args.ic
expect 4 "--max-output" args.ic --max-output
expect 4 "missing.ic" missing.ic
expect 0 "--max-output BYTES" --help
exit 0
