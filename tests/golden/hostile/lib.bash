# Shared by the NAME.sh cases of this directory (run from it, with QUORVELIN
# and GOLDEN set).  `check WHAT STATUS OUT ERR`: compares the exit status and
# the files holding what the run wrote with what was expected.
tmp=$(mktemp -d)
trap 'chmod -R u+rwx "$tmp"; rm -rf "$tmp"' EXIT
fail=0

check() {
  local what=$1 want_status=$2 status=$3 want_out=$4 out=$5 want_err=$6 err=$7
  if [ "$status" != "$want_status" ]; then
    echo "$what: exit status $status, expected $want_status"
    fail=1
  fi
  if ! cmp -s "$want_out" "$out"; then
    echo "$what: standard output differs (- expected, + actual):"
    diff -u <(cat -A "$want_out") <(cat -A "$out") | head -20
    fail=1
  fi
  if ! cmp -s "$want_err" "$err"; then
    echo "$what: standard error differs (- expected, + actual):"
    diff -u <(cat -A "$want_err") <(cat -A "$err") | head -20
    fail=1
  fi
}
