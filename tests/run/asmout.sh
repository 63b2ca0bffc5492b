# -S writes exactly what the translator writes, over two files, and the run
# goes on; a file that cannot be written is the runner's own failure (4).
set -u
"$QUORVELIN" twofiles.ic twofiles.2.ic > "$TMP/want.s" 2> /dev/null
"$RUNNER" -S "$TMP/got.s" twofiles.ic twofiles.2.ic > /dev/null 2> "$TMP/err"
status=$?
[ "$status" = 2 ] || { echo "status $status, expected 2"; exit 1; }
cmp "$TMP/want.s" "$TMP/got.s" || { echo "-S output differs from the translator's"; exit 1; }
grep -qF "$TMP/got.s:" "$TMP/err" || { echo "the note does not name the -S file:"; cat "$TMP/err"; exit 1; }
"$RUNNER" -S /nonexistent/dir/x.s args.ic > /dev/null 2> "$TMP/err"
status=$?
[ "$status" = 4 ] || { echo "status $status for an unwritable -S file, expected 4"; exit 1; }
exit 0
