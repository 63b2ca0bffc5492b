# A full disk: the error is reported and the run fails; a closed standard
# output likewise.
set -u
err=$("$QUORVELIN" end_example.ic 2>&1 >/dev/full)
status=$?
[ "$status" = 1 ] || { echo "status $status"; exit 1; }
[ "$err" = "quorvelin: error writing output: No space left on device" ] || { echo "stderr: $err"; exit 1; }
err=$("$QUORVELIN" end_example.ic 2>&1 >&-)
status=$?
[ "$status" = 1 ] || { echo "closed stdout: status $status"; exit 1; }
[ "$err" = "quorvelin: error writing output: Bad file descriptor" ] || { echo "closed stdout: stderr: $err"; exit 1; }
exit 0
