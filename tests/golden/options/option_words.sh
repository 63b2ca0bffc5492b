# --help and --version are options only as the sole argument: anywhere else,
# or beside another word, they name files as any other word does.
set -eu
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$QUORVELIN" --version | grep -Eqx 'quorvelin [0-9]+\.[0-9]+\.[0-9]+'
cd "$tmp"
printf 'x: end\n' > a.ic
cp a.ic ./--help
cp a.ic ./--version
"$QUORVELIN" a.ic > want
"$QUORVELIN" --help --version > got
cmp -s want <(head -c "$(wc -c < want)" got)
"$QUORVELIN" ./--help > got && cmp -s want got
set +e
"$QUORVELIN" a.ic --nohelp > got 2> err
status=$?
set -e
[ "$status" = 1 ] && grep -qx 'Command Line Error: Input file --nohelp not found.' err
