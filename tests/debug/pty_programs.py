#!/usr/bin/env python3
"""quorvelin-debug at a terminal on programs that end badly or are spread
out: a fault inside a procedure (bt, print, info frame still work), an
endless recursion, a program that kills SPIM (run starts it again), a
program in two files, //#line markers, and output shown as it is printed.

    pty_programs.py QUORVELIN_DEBUG DIR
"""
import sys
import time

from ptyterm import Term, check, has, hasnt, spim_alive

debug, folder = sys.argv[1], sys.argv[2]


def session(args):
    t = Term(debug, folder, args)
    t.prompt()
    return t


def leave(t, what, note=True):
    if note:
        t.note_spim()
    t.line("quit")
    t.wait_exit()
    t.no_spim_left(what)
    t.same_terminal(what)


# A null read three calls deep.
t = session(["fault.ic"])
try:
    s = t.cmd("run")
    has(s, r"^fault\.ic:6:2: error: read from address 0x00000000", "the runner's message at the faulting line")
    has(s, r"^fault\.ic:10:2: note: called from here \(in 'Middle'\)", "the call chain under the message")
    has(s, r"^\[program stopped by a run-time error\]$", "the stop")
    has(t.cmd("bt"), r"^#0\s+Inner at fault\.ic:6\n#1\s+Middle at fault\.ic:10\n#2\s+Outer at fault\.ic:14\n"
        r"#3\s+Main at fault\.ic:18$", "bt at the fault")
    # The machine stays as the error left it.
    has(t.cmd("print r3"), r"^r3 = 0$", "print at the fault")
    has(t.cmd("info frame"), r"^Frame #0: Inner at fault\.ic:6\n called from fault\.ic:10 \(in Middle\)",
        "info frame at the fault")
    has(t.cmd("up 2"), r"^#2\s+Outer at fault\.ic:14", "up N at the fault")
    has(t.cmd("continue"), r"^The program is not being run\.$", "no continuing after a fault")
    t.cmd("break Outer")
    has(t.cmd("run"), r"^Breakpoint 1, Outer at fault\.ic:13", "run again after a fault")
    leave(t, "a fault")
finally:
    t.close()

# After the fault every frame is as it was on the way there: the frames above
# the faulting one, their pointers, registers and arguments, as stopped live
# at the faulting line.
t = session(["fault.ic"])
try:
    def frames():
        return [t.cmd("frame %d" % k) + t.cmd("info frame") + t.cmd("print r4") for k in (1, 2, 3)] + \
               [t.cmd("print var 0, -16")]
    t.cmd("break 6")
    t.cmd("run")
    live = frames()
    has(t.cmd("continue"), r"error: read from address 0x00000000", "the fault after the breakpoint")
    after = frames()
    for k, (a, b) in enumerate(zip(live, after)):
        check(a == b, "frame %d after the fault differs from the live one" % (k + 1), a + "\n---\n" + b)
    leave(t, "frames after a fault")
finally:
    t.close()

# Endless recursion.
t = session(["overflow.ic"])
try:
    s = t.cmd("run")
    has(s, r"error: stack overflow \d+ calls deep, in the recursion of 'Down'", "the recursing procedure is named")
    has(s, r"^\[program stopped by a stack overflow\]$", "the stop")
    has(t.cmd("bt 3"), r"^#0\s+Down at overflow\.ic:\d+\n#1\s+Down at overflow\.ic:5\n#2\s+Down at overflow\.ic:5$",
        "bt of the recursion")
    leave(t, "a stack overflow")
finally:
    t.close()

# A data word executed: SPIM dies; the next run starts a new one.
t = session(["crash.ic"])
try:
    t.cmd("break 11")
    has(t.cmd("run"), r"^Breakpoint 1, Main at crash\.ic:11", "the stop before the call")
    t.note_spim()
    first = t.spim
    has(t.cmd("step"), r"^\[SPIM stopped: the program executed a word that is not an instruction\?\]$",
        "the crash is reported")
    # Its output ends before the process is quite gone: give it a moment.
    end = time.time() + 3
    while any(spim_alive(p) for p in first) and time.time() < end:
        time.sleep(0.05)
    check(not any(spim_alive(p) for p in first), "the dead SPIM is still running")
    has(t.cmd("bt"), r"^No stack\.$", "no frames after the crash")
    has(t.cmd("run"), r"^Breakpoint 1, Main at crash\.ic:11", "run after the crash starts SPIM again, breakpoints kept")
    t.note_spim()
    check(not set(t.spim) & set(first), "no new SPIM after the crash")
    has(t.cmd("continue"), r"^\[SPIM stopped", "the crash again")
    leave(t, "a crash of the program", note=False)
finally:
    t.close()

# Two files: locations name each line's own file.
t = session(["../e2e/twofile.ic", "../e2e/twofile.2.ic"])
try:
    has(t.cmd("break Max"), r"^Breakpoint 1 at twofile\.ic:9$", "a label of the first file")
    has(t.cmd("break twofile.2.ic:12"), r"^Breakpoint 2 at twofile\.2\.ic:12$", "FILE:LINE in the second file")
    s = t.cmd("run")
    has(s, r"^max ?\n\nBreakpoint 1, Max at twofile\.ic:9\n9\s+var 0, -17, r0", "the stop in the first file")
    has(t.cmd("bt"), r"^#0\s+Max at twofile\.ic:9\n#1\s+Main at twofile\.2\.ic:10$", "bt across the files")
    has(t.cmd("finish"), r"^Main at twofile\.2\.ic:11\n11\s+pint rr\nValue returned: rr = 8$", "finish into the other file")
    s = t.cmd("c")
    has(s, r"^Breakpoint 2, Main at twofile\.2\.ic:12", "continue to the second file's breakpoint")
    has(t.cmd("list"), r"^=> 12\s+cst -9, r0", "list in the second file")
    has(t.cmd("list twofile.ic:16"), r"^\s+16\s+rtn r0, 2", "list FILE:LINE")
    leave(t, "two files")
finally:
    t.close()

# //#line markers: the marked source first, break by its lines.
t = session(["markers.ic"])
try:
    has(t.cmd("break calc.src:12"), r"^Breakpoint 1 at calc\.src:12 \(markers\.ic:6\)$", "break FILE:LINE of the marked source")
    has(t.cmd("run"), r"^Breakpoint 1, Main at calc\.src:12 \(markers\.ic:6\)\n6\s+cst 5, r1", "the stop names both")
    has(t.cmd("bt"), r"^#0\s+Main at calc\.src:12 \(markers\.ic:6\)$", "bt names the marked source")
    s = t.cmd("next")
    has(s, r"^Main at calc\.src:13 \(markers\.ic:7\)\n7\s+div r0, r1", "next names the marked line too")
    s = t.cmd("next")
    has(s, r"^calc\.src:13:1: error: division by zero", "the fault at the marked line")
    leave(t, "line markers")
finally:
    t.close()
# Output shows while the program runs: a program that prints and then loops
# for ever is seen to have printed before Ctrl-C stops it.
t = session(["chatty.ic"])
try:
    t.line("run")
    t.expect("started\n")
    t.ctrl("c")
    has(t.prompt(), r"Program interrupted\.\nMain at chatty\.ic:1[01]", "Ctrl-C after the output")
    leave(t, "output as it is printed")
finally:
    t.close()
# Input typed at the terminal is given again from the bytes typed when the run
# goes back over its read: not asked for twice, its output not shown twice.
t = session(["input.ic"])
try:
    t.cmd("break 12")
    t.line("run")
    t.expect("(input) ")
    t.line("21")
    has(t.prompt(), r"^Breakpoint 1, Main at input\.ic:12$", "the stop after the typed read")
    has(t.cmd("reverse-step"), r"^11\s+gint r0$", "back before the read")
    has(t.cmd("print r0"), r"^r0 = 0$", "the register as it was before the read")
    s = t.cmd("next")
    has(s, r"^12\s+psh r0$", "the read again, from what was typed")
    hasnt(s, r"input", "no second request for the typed line")
    has(t.cmd("print r0"), r"^r0 = 21$", "the value typed")
    t.cmd("delete")
    t.line("continue")
    t.expect("(input) ")
    t.line("hello")
    t.expect("(input) ")
    t.line("x")
    s = t.prompt()
    check(t.screen.count("42 \n") == 1, "the output before the way back shown once", t.screen)
    has(s, r"\[program exited normally\]", "the run ends with the input typed afterwards")
    leave(t, "typed input gone back over", note=False)
finally:
    t.close()
print("ok")
