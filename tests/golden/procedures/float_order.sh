# With both streams in one file, each "floating reg is" line must sit where
# the handler maps: after rtn's trace comment, before cal's.
set -u
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
for c in rtn_float:rtn_float cal_forms:cal_float; do
  ic=${c%%:*}
  "$QUORVELIN" "$ic.ic" > "$tmp/got" 2>&1
  cat "$GOLDEN/prologue.out" "${c##*:}.merged" > "$tmp/want"
  if ! cmp -s "$tmp/want" "$tmp/got"; then
    echo "$ic: merged output differs (- expected, + actual):"
    diff -u <(cat -A "$tmp/want") <(cat -A "$tmp/got") | head -30
    fail=1
  fi
done
exit $fail
