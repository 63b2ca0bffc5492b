# The trace and the program's output on one stream come in the order they
# happened: each line's trace before what the line printed.
set -u
"$RUNNER" --trace trace.ic > "$TMP/both" 2>&1
status=$?
want='trace.ic:14:         pint rr
42 trace.ic:15:         pln

trace.ic:16:         cst 5, r1    r1 = 5
trace.ic:17:         pint r1
5 trace.ic:18:         pln
'
got=$(sed -n '12,17p' "$TMP/both")
[ "$status" = 0 ] && [ "$got" = "${want%$'\n'}" ] || { echo "status $status; got:"; cat "$TMP/both"; exit 1; }
