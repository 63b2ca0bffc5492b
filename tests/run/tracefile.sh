# --trace-file: the same trace as on standard error, in the file; standard
# error keeps only the runner's own messages; a file that cannot be written
# is said, with status 4.
set -u
fail() { echo "$*"; exit 1; }

"$RUNNER" --trace-file "$TMP/trace" tracevalues.ic > "$TMP/out" 2> "$TMP/err"
status=$?
[ "$status" = 0 ] || fail "--trace-file: status $status:" "$(cat "$TMP/err")"
[ ! -s "$TMP/err" ] || fail "--trace-file: standard error not empty:" "$(cat "$TMP/err")"
cmp -s "$TMP/trace" tracevalues.err || fail "--trace-file: not the trace of tracevalues.err:" "$(diff tracevalues.err "$TMP/trace")"
cmp -s "$TMP/out" tracevalues.out || fail "--trace-file: the program's output changed"

"$RUNNER" --trace-file "$TMP/none/trace" tracevalues.ic > /dev/null 2> "$TMP/err"
status=$?
[ "$status" = 4 ] && grep -q "error: cannot write the trace to $TMP/none/trace" "$TMP/err" ||
  fail "an unwritable --trace-file: status $status:" "$(cat "$TMP/err")"
exit 0
