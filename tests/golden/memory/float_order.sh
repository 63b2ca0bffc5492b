# With both streams in one file, valf's "floating reg is" line must come
# before its trace comment.
set -u
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$QUORVELIN" val.ic > "$tmp/got" 2>&1
cat "$GOLDEN/prologue.out" val_float.merged > "$tmp/want"
if ! cmp -s "$tmp/want" "$tmp/got"; then
  diff -u <(cat -A "$tmp/want") <(cat -A "$tmp/got") | head -30
  exit 1
fi
