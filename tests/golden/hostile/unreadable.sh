# A file without read permission cannot be opened: the not-found message on
# both streams, no header, and no later file is translated.  Root reads such a
# file anyway, so there the case has nothing to show (read_error.sh covers a
# file that opens and then fails, for every user).
. ./lib.bash
if [ "$(id -u)" = 0 ]; then
  echo "skipped: root can read a file of mode 000"
  exit 0
fi
printf 'pln\n' > "$tmp/locked.ic"
chmod 000 "$tmp/locked.ic"
printf 'Command Line Error: Input file %s not found.\n' "$tmp/locked.ic" > "$tmp/want"
status=0
timeout 20 "$QUORVELIN" "$tmp/locked.ic" percent.ic > "$tmp/out" 2> "$tmp/err" < /dev/null || status=$?
check "mode 000" 1 "$status" "$tmp/want" "$tmp/out" "$tmp/want" "$tmp/err"
exit $fail
