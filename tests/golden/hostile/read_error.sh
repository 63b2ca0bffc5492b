# A file that opens but whose read fails: /proc/self/mem at offset 0 reads the
# unmapped page 0 of the translator's own memory, which fails with EIO, for
# root too.  The header is already written; the run stops at once.
. ./lib.bash
printf 'quorvelin: error reading /proc/self/mem: Input/output error\n' > "$tmp/want_err"
status=0
timeout 20 "$QUORVELIN" /proc/self/mem percent.ic > "$tmp/out" 2> "$tmp/err" < /dev/null || status=$?
check "/proc/self/mem" 1 "$status" "$GOLDEN/prologue.out" "$tmp/out" "$tmp/want_err" "$tmp/err"

# As the second file: the first file's output is complete, the third file
# is not translated.
cat "$GOLDEN/prologue.out" empty.body > "$tmp/want"
status=0
timeout 20 "$QUORVELIN" empty.ic /proc/self/mem percent.ic > "$tmp/out" 2> "$tmp/err" < /dev/null || status=$?
check "/proc/self/mem second" 1 "$status" "$tmp/want" "$tmp/out" "$tmp/want_err" "$tmp/err"
exit $fail
