# Without SPIM: status 4 and how to install it, with --spim and on the PATH.
set -u
check() {  # STATUS-FILE ERR-FILE
  [ "$(cat "$1")" = 4 ] || { echo "status $(cat "$1"), expected 4"; exit 1; }
  grep -q "apt-get install spim" "$2" || { echo "no install hint:"; cat "$2"; exit 1; }
}
"$RUNNER" --spim /nonexistent/spim args.ic > "$TMP/out" 2> "$TMP/err"
echo $? > "$TMP/status"
check "$TMP/status" "$TMP/err"
grep -q "/nonexistent/spim" "$TMP/err" || { echo "the path is not named"; exit 1; }
PATH=/nonexistent "$RUNNER" args.ic > "$TMP/out" 2> "$TMP/err"
echo $? > "$TMP/status"
check "$TMP/status" "$TMP/err"
[ ! -s "$TMP/out" ] || { echo "standard output not empty"; exit 1; }
