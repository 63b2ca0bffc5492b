#!/usr/bin/env python3
"""quorvelin-debug at a terminal: line editing and history at the prompt,
Ctrl-C and Ctrl-D there, and that no SPIM process and no altered terminal
setting is left behind however the debugger ends (quit, end of input, a
closed terminal, SIGTERM at the prompt and while the program runs).

    pty_terminal.py QUORVELIN_DEBUG DIR
"""
import os
import signal
import subprocess
import sys
import time

from ptyterm import UP, Term, check, has, hasnt, spim_alive

debug, folder = sys.argv[1], sys.argv[2]

# Editing and history on the prompt's line.
t = Term(debug, folder, ["factorial.ic"])
try:
    t.prompt()
    t.cmd("break 14")
    has(t.cmd("run"), r"^Breakpoint 1, Fact at factorial\.ic:14", "run")
    t.keys("prin r2")
    t.keys("\x02\x02\x02t")  # Ctrl-B three times: back over " r2", then the missing letter
    has(t.cmd(""), r"^r2 = 1$", "a letter put in the middle of the line")
    t.keys("garbage")
    t.ctrl("u")
    s = t.cmd("print r0")
    has(s, r"^r0 = 1$", "Ctrl-U drops the line typed so far")
    hasnt(s, r"Undefined command", "Ctrl-U drops the line typed so far")
    s = t.cmd(UP)
    has(s, r"^r0 = 1$", "the up arrow recalls the last command")
    s = t.cmd(UP + UP)
    has(s, r"^r2 = 1$", "the up arrow twice recalls the command before")
    t.keys("print r1")
    t.keys("\x01\x06\x06\x06\x06\x04")  # Ctrl-A, Ctrl-F four times, Ctrl-D deletes the t
    has(t.cmd("t"), r"^r1 = 1$", "Ctrl-A, Ctrl-F and Ctrl-D in the line")
    # Ctrl-C at the prompt: "Quit", a new prompt, and the line is not run.
    t.keys("delete 1")
    t.ctrl("c")
    s = t.prompt()
    has(s, r"Quit\n", "Ctrl-C at the prompt")
    has(t.cmd("info breakpoints"), r"^1\s+breakpoint\s+y", "the line dropped by Ctrl-C was not run")
    has(t.cmd("next"), r"^Main at factorial\.ic:40\n40\s+pint rr", "a command after Ctrl-C at the prompt")
    # Ctrl-D on an empty line: the end of input quits.
    t.note_spim()
    t.ctrl("d")
    t.expect("quit")
    check(t.wait_exit() == 0, "Ctrl-D: exit status")
    t.no_spim_left("Ctrl-D at the prompt")
    t.same_terminal("Ctrl-D at the prompt")
finally:
    t.close()


def started(args, running):
    """A debugger at its prompt, or with the program in an endless loop."""
    t = Term(debug, folder, args)
    t.prompt()
    if running:
        t.line("run")
        time.sleep(0.3)
    t.note_spim()
    return t


def ended(t, what, exited):
    end = time.time() + 10
    while t.proc.poll() is None and time.time() < end:
        time.sleep(0.05)
    check(t.proc.poll() is not None, f"the debugger is still running after {what}")
    check(exited(t.proc.returncode), f"{what}: exit status {t.proc.returncode}")
    t.no_spim_left(what)


# SIGTERM at the prompt (the line editor holds the terminal) and while the
# program runs: SPIM ends and the terminal is as it was.
for running in (False, True):
    t = started(["loop.ic"], running)
    try:
        what = "SIGTERM " + ("while the program runs" if running else "at the prompt")
        t.keys("prin")  # half a line typed
        t.proc.send_signal(signal.SIGTERM)
        ended(t, what, lambda rc: rc == -signal.SIGTERM)
        t.same_terminal(what)
    finally:
        t.close()

# A closed terminal (the window is closed: the master side goes away), at the
# prompt and while the program runs.
for running in (False, True):
    t = started(["loop.ic"], running)
    try:
        os.close(t.master)
        ended(t, "a closed terminal " + ("while the program runs" if running else "at the prompt"), lambda rc: True)
    finally:
        t.close()

# The end of input at a terminal while the program is stopped at a breakpoint.
t = Term(debug, folder, ["watch.ic"])
try:
    t.prompt()
    t.cmd("break 8")
    t.cmd("run")
    t.note_spim()
    t.ctrl("d")
    ended(t, "Ctrl-D with the program stopped", lambda rc: rc == 0)
    t.same_terminal("Ctrl-D with the program stopped")
finally:
    t.close()

# The end of commands from a pipe (batch mode) with the program stopped.
p = subprocess.Popen([os.path.abspath(debug), "loop.ic"], cwd=folder, stdin=subprocess.PIPE,
                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
p.stdin.write(b"break 7\nrun\n")
p.stdin.flush()
time.sleep(0.5)
kids = [int(x) for x in subprocess.run(["pgrep", "-P", str(p.pid)], capture_output=True, text=True).stdout.split()]
check(kids, "no SPIM under the batch debugger")
p.stdin.close()
out = p.stdout.read().decode()
p.wait(10)
has(out, r"^Breakpoint 1, Main at loop\.ic:7", "batch: the stop before the end of commands")
end = time.time() + 5
while any(spim_alive(k) for k in kids) and time.time() < end:
    time.sleep(0.05)
check(not any(spim_alive(k) for k in kids), "SPIM is left after the end of batch commands")
print("ok")
