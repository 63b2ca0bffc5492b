#!/usr/bin/env python3
"""quorvelin-debug at a terminal, typed as a person types and read off the
screen: the program's input typed when it reads (the screen says so), from
a file (--input FILE, run < FILE); Ctrl-C on an endless loop, every time,
and while the program waits for typed input.

    interactive.py QUORVELIN_DEBUG DIR
"""
import sys
import time

from ptyterm import Term, check, has, hasnt

debug, folder = sys.argv[1], sys.argv[2]
HINT = "[the program reads its input here"

# Input typed at the program's reads: a number, a line, a character.
t = Term(debug, folder, ["input.ic"])
try:
    t.prompt()
    t.cmd("break 15")
    t.line("run")
    s = t.expect("(input) ")
    has(s, r"^\[the program reads its input here: type a line; Ctrl-D ends the input", "the screen says input is wanted")
    t.line("21")
    s = t.prompt()
    has(s, r"^Breakpoint 1, Main at input\.ic:15", "the stop after the typed number")
    has(t.cmd("print rr"), r"^rr = 42$", "the typed number reached the program")
    has(t.cmd("next"), r"^42 ?\n16\s+pln", "next")
    t.cmd("next")
    t.line("next")  # gstr: waits for a line
    s = t.expect("(input) ")
    hasnt(s, r"\[the program reads its input here", "the full hint is given once")
    t.line("hello there")
    has(t.prompt(), r"^18\s+pstr r2", "next over a read of a typed line")
    has(t.cmd("next"), r"^hello there\n19\s+pln", "the typed line reached the program")
    t.cmd("next")
    t.line("continue")  # gchr
    t.expect("(input) ")
    t.line("xyz")
    has(t.prompt(), r"^x\n\[program exited normally\]", "a typed character")
    t.note_spim()
    t.line("quit")
    t.wait_exit()
    t.no_spim_left("quit")
    t.same_terminal("quit")
finally:
    t.close()

# Input from a file: --input FILE, then run < FILE on the same session, then
# typed again once the file is given up... each run reads its file from the start.
t = Term(debug, folder, ["--input", "input.data", "input.ic"])
try:
    t.prompt()
    t.cmd("break Twice")
    s = t.cmd("run")
    hasnt(s, r"\[the program reads", "--input: nothing is typed")
    has(s, r"^Breakpoint 1, Twice at input\.ic:5", "--input: the stop")
    has(t.cmd("print var 0, -16"), r"^var 0, -16 = 21$", "--input: the number read from the file")
    has(t.cmd("c"), r"^42 ?\nhello there\n\nx\n\[program exited normally\]", "--input: the rest of the file")
    t.cmd("delete")
    has(t.cmd("r < input.data"), r"^42 ?\nhello there\n\nx\n\[program exited normally\]", "r < FILE")
    has(t.cmd("run < nowhere.data"), r"nowhere\.data", "run < FILE of a missing file names it")
    t.line("quit")
    t.wait_exit()
finally:
    t.close()

# Ctrl-C while the program waits for typed input: it stops at its reading line.
t = Term(debug, folder, ["input.ic"])
try:
    t.prompt()
    t.line("run")
    t.expect("(input) ")
    time.sleep(0.1)
    t.ctrl("c")
    s = t.prompt()
    has(s, r"Program interrupted\.\nMain at input\.ic:11\n11\s+gint r0", "Ctrl-C at a read")
    has(t.cmd("bt"), r"^#0\s+Main at input\.ic:11$", "bt after Ctrl-C at a read")
    t.line("continue")
    t.expect("(input) ")
    t.line("5")
    has(t.expect("(input) "), r"^5\n10 ?\n", "after Ctrl-C the read takes the next typed line")
    t.ctrl("c")
    has(t.prompt(), r"Program interrupted\.\nMain at input\.ic:17", "Ctrl-C at a second read")
    t.line("quit")
    t.wait_exit()
finally:
    t.close()

# Ctrl-C on an endless loop, three times: every interrupt stops it.
t = Term(debug, folder, ["loop.ic"])
try:
    t.prompt()
    t.line("run")
    last = -1
    for i in range(3):
        time.sleep(0.3)
        t.ctrl("c")
        s = t.prompt()
        has(s, r"Program interrupted\.\n(Main at )?loop\.ic:[67]\n[67]\s+(Loop:\s+add r1, r0|bra Loop)",
            f"Ctrl-C {i + 1} stops the loop at its line")
        v = t.cmd("print r0")
        has(v, r"^r0 = \d+$", "print after Ctrl-C")
        n = int(v.split("=")[1].split()[0])
        check(n > last, f"the loop did not go on after Ctrl-C {i}: r0 = {n}, before {last}")
        last = n
        t.line("continue")
    # Ctrl-C while the program is stepped (step N, a watchpoint's continue),
    # which keeps SPIM going back to its prompt: each stops it, and SPIM's
    # answers stay in step with the commands.
    time.sleep(0.2)
    t.ctrl("c")
    t.prompt()
    for i, run in enumerate(["step 1000000", "watch r5", "next 1000000", "continue"] * 2):
        if run.startswith("watch"):
            t.cmd(run)
            run = "continue"
        t.line(run)
        time.sleep(0.05 + 0.07 * i)
        t.ctrl("c")
        has(t.prompt(), r"Program interrupted\.", f"Ctrl-C while stepping ({run}) stops the program")
        has(t.cmd("print r1"), r"^r1 = 1$", f"print after Ctrl-C while stepping ({run})")
        t.cmd("delete")
    t.line("continue")
    t.note_spim()
    t.ctrl("c")
    t.prompt()
    t.line("quit")
    t.wait_exit()
    t.no_spim_left("quit after Ctrl-C")
    t.same_terminal("quit after Ctrl-C")
finally:
    t.close()
print("ok")
