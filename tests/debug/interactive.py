#!/usr/bin/env python3
"""quorvelin-debug at a terminal, typed as a person types and read off the
screen: the prompt, an empty line that repeats step, input typed when the
program reads, and Ctrl-C on an endless loop, twice (every interrupt stops
it), then quit leaves no SPIM behind.

    interactive.py QUORVELIN_DEBUG DIR
"""
import os
import pty
import re
import select
import subprocess
import sys
import time

debug, folder = sys.argv[1], sys.argv[2]
screen = b""


def start(args):
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(folder)
        os.execv(debug, [debug] + args)
    return pid, fd


def expect(fd, text, timeout=10.0):
    """Reads the screen until `text` appears after what was already seen."""
    global screen
    end = time.time() + timeout
    while text.encode() not in screen:
        left = end - time.time()
        if left <= 0:
            sys.exit(f"timed out waiting for {text!r}; the screen ends with:\n{screen[-600:].decode(errors='replace')}")
        r, _, _ = select.select([fd], [], [], left)
        if r:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                chunk = b""
            if not chunk:
                sys.exit(f"the terminal closed while waiting for {text!r}; the screen ends with:\n{screen[-600:].decode(errors='replace')}")
            screen += chunk
    at = screen.index(text.encode()) + len(text)
    seen = screen[:at]
    screen = screen[at:]
    return seen.decode(errors="replace")


def typed(fd, line):
    for ch in line:
        os.write(fd, ch.encode())
        time.sleep(0.01)
    os.write(fd, b"\r")


def spim_children(pid):
    out = subprocess.run(["ps", "-eo", "pid,ppid,comm"], capture_output=True, text=True).stdout
    return [l for l in out.splitlines()[1:] if l.split()[1] == str(pid) and "spim" in l]


# Input typed at the program's read, and an empty line that repeats step.
pid, fd = start(["input.ic"])
expect(fd, "(qvdb) ")
typed(fd, "break 12")
expect(fd, "(qvdb) ")
typed(fd, "run")
time.sleep(0.3)  # the program waits at its gint
typed(fd, "21")
seen = expect(fd, "(qvdb) ")
if "Breakpoint 1" not in seen:
    sys.exit("no stop at the breakpoint after the input:\n" + seen)
typed(fd, "step")
expect(fd, "(qvdb) ")
typed(fd, "")
seen = expect(fd, "(qvdb) ")
if not re.search(r"\n14\t", seen):
    sys.exit("an empty line did not repeat step:\n" + seen)
typed(fd, "quit")
os.waitpid(pid, 0)

# Ctrl-C on an endless loop, twice.
pid, fd = start(["loop.ic"])
expect(fd, "(qvdb) ")
typed(fd, "run")
for i in range(2):
    time.sleep(0.5)
    os.write(fd, b"\x03")
    seen = expect(fd, "(qvdb) ")
    if "Program interrupted." not in seen or "loop.ic:" not in seen:
        sys.exit(f"Ctrl-C {i + 1} did not stop the program:\n" + seen)
    typed(fd, "continue")
children = spim_children(pid)
if not children:
    sys.exit("no SPIM under the debugger")
os.write(fd, b"\x03")
expect(fd, "(qvdb) ")
typed(fd, "quit")
os.waitpid(pid, 0)
time.sleep(0.2)
gone = subprocess.run(["ps", "-p", children[0].split()[0]], capture_output=True).returncode != 0
if not gone:
    sys.exit("SPIM is left after quit")
print("ok")
