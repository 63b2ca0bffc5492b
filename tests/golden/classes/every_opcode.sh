# One program that uses each of the 60 opcodes once.  A pass-through line
# "L<i>" stands before the i-th opcode line, so the output falls apart into one
# piece per opcode; each piece must begin with the lines its handler writes
# first.  A row missing from the opcode table leaves its piece empty.
set -u
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# input line | the first line(s) of its output ("\n" between lines)
rows=(
  'ntr P, 3|\t\t\t\t\t###### ntr -P-3-'
  'rtn r2, 1|\t\t\t\t\t###### rtn -r2-1 '
  'cal 0, r3|\t\t\t\t\t###### cal -disp-0 -name-$12 '
  'var 1, 3, r2|\t\t\t\t\t###### var delta-1 disp-3 reg-$11-'
  'alc r1, r2|\t\t\t\t\t# alc -$10-$11- '
  'mth M1|\t\t\t\t\t# mth -M1- '
  'cst 42, r1|\t\t\t\t\t# cst -42-$10-'
  'cstf 1.5, r1|\t\t\t\t\t# cstf -1.5-$10-'
  'sto r1, r2|\t\t\t\t\t# sto -$10-$11-'
  'val r1|\t\t\t\t\t# val -$10-'
  'valf r1, r2|\t\t\t\t\t# valf -$10-$11-'
  'add r1, r2|\t\t\t\t\t# add -$10-$11-'
  'addf r1, r2|\t\t\t\t\t# addf -$10-$11-'
  'sub r1, r2|\t\t\t\t\t# sub -$10-$11-'
  'subf r1, r2|\t\t\t\t\t# subf -$10-$11-'
  'mul r1, r2|\t\t\t\t\t# mul -$10-$11-'
  'mulf r1, r2|\t\t\t\t\t# mulf -$10-$11-'
  'div r1, r2|\t\t\t\t\t# div -$10-$11-'
  'divf r1, r2|\t\t\t\t\t# divf -$10-$11-'
  'rem r1, r2|\t\t\t\t\t# rem -$10-$11-'
  'end 3, C0, K0|\t\t\t\t\t# end -3-C0-K0-'
  'dbg here|\t\t\t.data'
  'mov r1, r2|\t\t\t\t\t# mov -$10-$11-'
  'gint r1|\t\t\t\t\t#gint -$10-'
  'pint r1|\t\t\t\t\t#pint -$10-'
  'pflt r1|\t\t\t\t\t#pflt -$10-'
  'gflt r1|\t\t\t\t\t#gflt -$10-'
  'pbln r1|\t\t\t\t\t#pbln -$10-'
  'gbln r1|\t\t\t\t\t#gbln -$10-'
  'gchr r1|\t\t\t\t\t#gchr -$10-'
  'pchr r1|\t\t\t\t\t#pchr -$10-'
  'pln|\t\t\t\t\t#pln '
  'pstr r1|\t\t\t\t\t#pstr -$10-'
  'gstr r1, 40|\t\t\t\t\t#gstr -$10-40-'
  'tfl r1|\t\t\t\t\t#tfl  -$10-'
  'neg r1|\t\t\t\t\t# neg -$10-\n\t\t\tneg $10, $10\t#Negetive of integer'
  'negf r1|\t\t\t\t\t# neg -$10-\n\t\t\tmtc1 $10, $f2 \t#move gp regs to fp regs'
  'and r1, r2|\t\t\t\t\t# and -$10-$11-'
  'or r1, r2|\t\t\t\t\t# or -$10-$11-'
  'not r1|\t\t\t\t\t# not -$10-$10-'
  'ltn r1, r2|\t\t\t\t\t# ltn -$10-$11-'
  'ltnf r1, r2|\t\t\t\t\t# ltnf -$10-$11-\t  $$$$Needs Major Verification$$$$$$'
  'leq r1, r2|\t\t\t\t\t# leq -$10-$11-'
  'leqf r1, r2|\t\t\t\t\t# leqf -$10-$11-\t  $$$$Needs Major Verification$$$$$$'
  'gtr r1, r2|\t\t\t\t\t# gtr -$10-$11-'
  'gtrf r1, r2|\t\t\t\t\t# gtrf -$10-$11-\t  $$$$Needs Major Verification$$$$$$'
  'geq r1, r2|\t\t\t\t\t# geq -$10-$11-'
  'geqf r1, r2|\t\t\t\t\t# geqf -$10-$11-\t  $$$$Needs Major Verification$$$$$$'
  'eql r1, r2|\t\t\t\t\t# eql -$10-$11-'
  'eqlf r1, r2|\t\t\t\t\t# eql -$10-$11-'
  'neq r1, r2|\t\t\t\t\t# neq -$10-$11-'
  'neqf r1, r2|\t\t\t\t\t# neq -$10-$11-'
  'bra L9|\t\t\t\t\t# bra -L9-'
  'brf r1, L9|\t\t\t\t\t# brf -$10-L9-'
  'psh r1|\t\t\t\t\t# psh -$10-'
  'pshf r1|\t\t\t\t\t# pshf -$10-'
  'ndx r1, 1, 4, r2|\t\t\t\t\t# ndx -$10-1-4-$11-'
  'sel 2, r2|\t\t\t\t\t# sel -2-$11- '
  'str S1 "Hi"|\t\t\t\t\t# str -S1-Hi-'
  'cls C1, C0|\t\t\t\t\t# cls -C1-C0- \n\t\t\t.data'
)

fail=0
names=$(for r in "${rows[@]}"; do echo "${r%%[ |]*}"; done | sort -u | wc -l)
if [ "${#rows[@]}" != 60 ] || [ "$names" != 60 ]; then
  echo "the list holds ${#rows[@]} lines and $names opcodes, not 60"
  fail=1
fi

i=0
for r in "${rows[@]}"; do
  printf 'L%d\n%s\n' "$i" "${r%%|*}"
  i=$((i + 1))
done > "$tmp/all.ic"

"$QUORVELIN" "$tmp/all.ic" > "$tmp/out" 2> "$tmp/err"
status=$?
if [ $status != 0 ]; then
  echo "exit status $status"
  fail=1
fi

n=$(wc -l < "$GOLDEN/prologue.out")
if ! head -n "$n" "$tmp/out" | cmp -s - "$GOLDEN/prologue.out"; then
  echo "the output does not begin with the prologue"
  fail=1
fi
tail -n +"$((n + 1))" "$tmp/out" | awk -v dir="$tmp" '
  /^L[0-9]+\t\t\t $/ { piece = dir "/piece." substr($0, 2, index($0, "\t") - 2); printf "" > piece; next }
  { print > piece }'

i=0
for r in "${rows[@]}"; do
  printf '%b\n' "${r#*|}" > "$tmp/want"
  k=$(wc -l < "$tmp/want")
  if [ ! -f "$tmp/piece.$i" ] || ! head -n "$k" "$tmp/piece.$i" | cmp -s - "$tmp/want"; then
    echo "\"${r%%|*}\": expected"
    cat -A "$tmp/want"
    echo "got"
    head -n "$k" "$tmp/piece.$i" 2> /dev/null | cat -A
    fail=1
  fi
  i=$((i + 1))
done
exit $fail
