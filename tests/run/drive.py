"""Drives quorvelin-run on prompt.ic through pipes, as a person would.

  drive.py RUNNER answer     waits for the prompt, only then types a number
  drive.py RUNNER interrupt  waits for the prompt, then sends SIGINT

Fails (status 1) when the prompt does not arrive before any input is given,
or when the run ends otherwise than expected.
"""
import os
import select
import signal
import subprocess
import sys
import time

runner, mode = sys.argv[1], sys.argv[2]
p = subprocess.Popen([runner, "prompt.ic"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                     stderr=subprocess.PIPE)


def fail(msg):
    p.kill()
    print(msg)
    sys.exit(1)


got = b""
deadline = time.monotonic() + 20
while got != b"Number? ":
    left = deadline - time.monotonic()
    if left <= 0 or not select.select([p.stdout], [], [], left)[0]:
        fail("no prompt before the input; got %r" % got)
    chunk = os.read(p.stdout.fileno(), 100)
    if not chunk:
        fail("output ended before any input; got %r" % got)
    got += chunk

if mode == "answer":
    p.stdin.write(b"12\n")
    p.stdin.close()
    rest = p.stdout.read()
    status = p.wait(20)
    err = p.stderr.read()
    if got + rest != b"Number? 144 \n" or status != 0 or err:
        fail("output %r, status %d, standard error %r" % (got + rest, status, err))
else:
    # SPIM, the runner's child, is blocked reading; the interrupt must stop it too.
    with open("/proc/%d/task/%d/children" % (p.pid, p.pid)) as f:
        children = [int(c) for c in f.read().split()]
    if len(children) != 1:
        fail("expected SPIM as the only child, found %r" % children)
    p.send_signal(signal.SIGINT)
    status = p.wait(20)
    try:
        os.kill(children[0], 0)
        alive = True
    except ProcessLookupError:
        alive = False
    if status != 130 or alive:
        fail("status %d, SPIM %s" % (status, "still running" if alive else "stopped"))
    p.stdin.close()
