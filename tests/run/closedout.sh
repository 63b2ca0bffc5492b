# The runner's standard output goes away: a closed pipe ends the run quietly,
# as it ends any program (SIGPIPE, status 141); a full disk is a failed write
# (status 4) said as such.  Neither is a limit of the program's.
set -u
fail() { echo "$*"; exit 1; }

# (The pipe may close after the last of factorial's lines was written: 0
# then, as for any program.)
"$RUNNER" ../../examples/factorial.ic 2> "$TMP/err" | head -1 > "$TMP/out"
status=${PIPESTATUS[0]}
[ "$status" = 141 ] || [ "$status" = 0 ] || fail "closed pipe: status $status, expected 141:" "$(cat "$TMP/err")"
[ ! -s "$TMP/err" ] || fail "closed pipe: standard error not empty:" "$(cat "$TMP/err")"
[ "$(cat "$TMP/out")" = "fact 1 = 1 " ] || fail "closed pipe: the first line is '$(cat "$TMP/out")'"

# A program that prints for ever: the pipe closes while it runs.
"$RUNNER" spam.ic 2> "$TMP/err" | head -c 10 > /dev/null
status=${PIPESTATUS[0]}
[ "$status" = 141 ] && [ ! -s "$TMP/err" ] || fail "endless output into a closed pipe: status $status:" "$(cat "$TMP/err")"

if [ -w /dev/full ]; then
  "$RUNNER" ../../examples/factorial.ic > /dev/full 2> "$TMP/err"
  status=$?
  [ "$status" = 4 ] || fail "/dev/full: status $status, expected 4:" "$(cat "$TMP/err")"
  grep -q "error: cannot write the program's output: No space left on device" "$TMP/err" ||
    fail "/dev/full: no message of a failed write:" "$(cat "$TMP/err")"
  ! grep -qi "limit" "$TMP/err" || fail "/dev/full: a limit is named:" "$(cat "$TMP/err")"
fi
exit 0
