# SPIM lays out the stack from the program's arguments (the file's name
# first): a traced run, in SPIM's command mode like the debugger and the
# replays that name an overflow's calls, sees the stack of the plain run,
# with and without arguments.
set -u
fail() { echo "$*"; exit 1; }
for args in "" "-- one two"; do
  # shellcheck disable=SC2086
  "$RUNNER" stackwords.ic $args > "$TMP/plain" 2>&1 || fail "plain run failed: $(cat "$TMP/plain")"
  # shellcheck disable=SC2086
  "$RUNNER" --trace --trace-file "$TMP/trace" stackwords.ic $args > "$TMP/traced" 2>&1 ||
    fail "traced run failed: $(cat "$TMP/traced")"
  cmp -s "$TMP/plain" "$TMP/traced" || fail "arguments '$args': plain run printed $(cat "$TMP/plain"), traced $(cat "$TMP/traced")"
done
exit 0
