# 100,000 lines and no line break after the last one.  Five kinds of line in
# turn: a class table opened and given a method, closed by an "add" line, a
# pass-through line (every thousandth one behind a 99-character comment, so
# it is read as a piece of its own) and a trace point, whose internal labels
# count up to _ML19999.  The last line is an "mth" in an open table; with no
# line break there is no end-of-file pass, so no ".text" follows it.
set -eu
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
awk -v in_file="$tmp/in.ic" -v want="$tmp/want" 'BEGIN {
  n = 0
  for (i = 1; i <= 100000; i++) {
    k = i % 5
    if (k == 4) {
      line = "cls C" i ", C0"
      out = "\t\t\t\t\t# cls -C" i "-C0- \n\t\t\t.data\nC" i ":\t\t\t.word C0 \t#superclass C0 defined\n"
    } else if (k == 0) {
      line = "mth M" i
      out = "\t\t\t\t\t# mth -M" i "- \n\t\t\t.word M" i " \n"
    } else if (k == 1) {
      line = "add r1, r2"
      out = (i > 1 ? "\t\t\t.text\n" : "") "\t\t\t\t\t# add -$10-$11-\n\t\t\tadd $11, $11, $10  \t\n"
    } else if (k == 2) {
      line = "L" i " j L" (i + 1)
      if (i % 1000 == 2) {
        c = "//"
        while (length(c) < 99) c = c "-"
        line = c line
      }
      out = "L" i "\t\t\tj L" (i + 1) "\n"
    } else {
      line = "dbg P" i
      out = "\t\t\t.data\n_ML" n ":\t\t\t.asciiz \"We are at P" i "\\n\"\n\t\t\t.text\n\t\t\tla $a0,_ML" n "\n\t\t\tli $v0, 4\n\t\t\tsyscall\n"
      n++
    }
    printf "%s%s", line, (i < 100000 ? "\n" : "") > in_file
    printf "%s", out > want
  }
}'
cat "$GOLDEN/prologue.out" "$tmp/want" > "$tmp/want_all"
status=0
timeout 60 "$QUORVELIN" "$tmp/in.ic" > "$tmp/out" 2> "$tmp/err" || status=$?
fail=0
[ "$status" = 0 ] || { echo "exit status $status, expected 0"; fail=1; }
[ ! -s "$tmp/err" ] || { echo "unexpected standard error:"; head -5 "$tmp/err"; fail=1; }
if ! cmp "$tmp/want_all" "$tmp/out"; then
  diff <(cat -A "$tmp/want_all") <(cat -A "$tmp/out") | head -20
  fail=1
fi
exit $fail
