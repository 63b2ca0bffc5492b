# Standard output closed (>&-): every write fails with EBADF.  The input file
# then opens as descriptor 1, so the translator must not mistake it for its
# output either.
. ./lib.bash
: > "$tmp/empty"
printf 'quorvelin: error writing output: Bad file descriptor\n' > "$tmp/want_err"
status=0
timeout 20 "$QUORVELIN" percent.ic 2> "$tmp/err" >&- < /dev/null || status=$?
check "one file" 1 "$status" "$tmp/empty" "$tmp/empty" "$tmp/want_err" "$tmp/err"

status=0
timeout 20 "$QUORVELIN" 2> "$tmp/err" >&- < /dev/null || status=$?
check "usage" 1 "$status" "$tmp/empty" "$tmp/empty" "$tmp/want_err" "$tmp/err"

# The input file is left as it was.
cp percent.ic "$tmp/in.ic"
status=0
timeout 20 "$QUORVELIN" "$tmp/in.ic" 2> "$tmp/err" >&- < /dev/null || status=$?
check "input untouched" 1 "$status" percent.ic "$tmp/in.ic" "$tmp/want_err" "$tmp/err"
exit $fail
