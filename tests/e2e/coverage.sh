#!/usr/bin/env bash
# Prints the opcodes that no end-to-end program uses and fails when there are
# any.  A program is NAME.ic (with its NAME.2.ic ...) next to a NAME.out.
#
#   coverage.sh DIR...
set -u
opcodes="ntr rtn cal var alc cls mth cst cstf sto val valf add addf sub subf mul mulf
div divf rem end dbg mov gint pint pflt gflt pbln gbln gchr pchr pln pstr gstr tfl
neg negf and or not ltn ltnf leq leqf gtr gtrf geq geqf eql eqlf neq neqf bra brf
psh pshf ndx sel str"

files=()
for dir in "$@"; do
  for out in "$dir"/*.out; do
    [ -e "$out" ] || continue
    base=${out%.out}
    for f in "$base".ic "$base".[0-9].ic "$base".[0-9][0-9].ic; do
      [ -f "$f" ] && files+=("$f")
    done
  done
done
if [ ${#files[@]} = 0 ]; then
  echo "no programs found"
  exit 1
fi

# The opcode is the first word once the comment, the label (through the first
# colon, unless a double quote comes before it), commas and tabs are gone.
used=$(awk '{
  line = $0
  k = index(line, "//"); if (k) line = substr(line, 1, k - 1)
  c = index(line, ":"); q = index(line, "\"")
  if (c && (!q || c < q)) line = substr(line, c + 1)
  gsub(/[,\t]/, " ", line)
  split(line, w, " ")
  if (w[1] != "") print w[1]
}' "${files[@]}" | sort -u)

missing=()
for op in $opcodes; do
  grep -qx -- "$op" <<< "$used" || missing+=("$op")
done
# A mistyped opcode would be dropped without a word by the translator.
unknown=()
for op in $used; do
  grep -qwF -- "$op" <<< "$opcodes" || unknown+=("$op")
done
echo "programs: ${#files[@]} files; opcodes in use: $(wc -w <<< "$used")"
if [ ${#unknown[@]} -gt 0 ]; then
  echo "words in opcode position that are no opcode: ${unknown[*]}"
  exit 1
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "opcodes no end-to-end program uses: ${missing[*]}"
  exit 1
fi
echo "opcodes no end-to-end program uses: none"
