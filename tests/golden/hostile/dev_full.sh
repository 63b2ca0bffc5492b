# Standard output on a full device: the write error on standard error, exit
# status 1, never silence.
. ./lib.bash
: > "$tmp/empty"
printf 'quorvelin: error writing output: No space left on device\n' > "$tmp/want_err"
run() {  # run WHAT ARGS...: the translator with standard output on /dev/full
  local what=$1
  shift
  status=0
  timeout 20 "$QUORVELIN" "$@" > /dev/full 2> "$tmp/err" < /dev/null || status=$?
  : > "$tmp/out"
}
run "one file" percent.ic
check "one file" 1 "$status" "$tmp/empty" "$tmp/out" "$tmp/want_err" "$tmp/err"

# More output than the writer buffers: the first failed write ends the run.
for i in $(seq 3000); do printf 'str S%d "%0100d"\n' "$i" 0; done > "$tmp/big.ic"
run "big output" "$tmp/big.ic"
check "big output" 1 "$status" "$tmp/empty" "$tmp/out" "$tmp/want_err" "$tmp/err"

run "usage" 
check "usage" 1 "$status" "$tmp/empty" "$tmp/out" "$tmp/want_err" "$tmp/err"

# A missing file: its message still reaches standard error, and so does the
# failed write of it to standard output.
run "missing file" no-such-file.ic
{ printf 'Command Line Error: Input file no-such-file.ic not found.\n'; cat "$tmp/want_err"; } > "$tmp/want_both"
check "missing file" 1 "$status" "$tmp/empty" "$tmp/out" "$tmp/want_both" "$tmp/err"
exit $fail
