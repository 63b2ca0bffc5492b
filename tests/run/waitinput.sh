# Input typed only after a while: the program still computes right, and the
# instruction count is the one it has when the input is there at once (the
# timer across such a wait: tests/unit/spim_count_test.cpp).
set -u
fail() { echo "$*"; exit 1; }

(sleep 1.5; echo 5) | "$RUNNER" --stats waitinput.ic > "$TMP/out" 2> "$TMP/err"
status=$?
[ "$status" = 0 ] && [ "$(cat "$TMP/out")" = "120 " ] ||
  fail "status $status, output '$(cat "$TMP/out")', expected 0 and '120 ':" "$(cat "$TMP/err")"
echo 5 | "$RUNNER" --stats waitinput.ic > /dev/null 2> "$TMP/err.now"
count() { grep -o '[0-9]* instructions executed' "$1"; }
[ -n "$(count "$TMP/err")" ] && [ "$(count "$TMP/err")" = "$(count "$TMP/err.now")" ] ||
  fail "after the wait: $(cat "$TMP/err"); at once: $(cat "$TMP/err.now")"

exit 0
