#!/usr/bin/env python3
"""Going back in quorvelin-debug reaches the very state the way forward had.

Random programs (loops, calls with arguments, stores into the frame, input
read from a file) are stepped forward recording every register, the stack's
words and the frames; then stepped back (reverse-step, reverse-next,
reverse-finish, reverse-continue), and each state reached must equal the one
recorded at the same instant on the way forward.  Every other seed parks
copies of SPIM every few instructions (QV_SNAPSHOT_EVERY), so that going back
starts from them rather than from the start.  Half the seeds (another half)
search the run for every step back (QV_SEARCH_BACK); the others go back over
the steps and nexts they made forward without a search.

    reverse.py QUORVELIN_DEBUG [SEEDS]
"""
import os
import random
import re
import subprocess
import sys
import tempfile

debug = os.path.abspath(sys.argv[1])
seeds = int(sys.argv[2]) if len(sys.argv) > 2 else 4
MARK = 123454321
failed = 0


def program(rnd):
    """Main reads numbers in a loop and hands them to procedures that compute
    and store into their frames."""
    procs = []
    lines = ["cls C, C"]
    for k in range(rnd.randint(2, 3)):
        name = "P%d" % k
        procs.append(name)
        body = ["ntr %s, 2" % name, "\tvar 0, -16, r0", "\tval r0", "\tcst %d, r1" % rnd.randint(1, 9)]
        for _ in range(rnd.randint(2, 6)):
            op = rnd.choice(["add", "sub", "mul", "mov"])
            body.append("\t%s r%d, r%d" % (op, rnd.randint(0, 1), rnd.randint(1, 3)))
        body += ["\tvar 0, %d, r5" % rnd.randint(2, 3), "\tsto r%d, r5" % rnd.randint(1, 3)]
        if k > 0 and rnd.random() < 0.7:
            callee = procs[rnd.randint(0, k - 1)]
            body += ["\tpsh r2", "\tcst %s, r4" % callee, "\tcal -1, r4", "\tmov rr, r2"]
        body += ["\trtn r%d, 1" % rnd.randint(1, 3)]
        lines += body
    lines += ["ntr Main, 1", "\tcst 0, r6", "Loop:\tgint r0", "\tadd r0, r6"]
    for name in rnd.sample(procs, len(procs)):
        lines += ["\tpsh r6", "\tcst %s, r4" % name, "\tcal -1, r4", "\tadd rr, r6", "\tvar 0, 2, r7", "\tsto r6, r7"]
    lines += ["\tpint r6", "\tpln", "\tbra Loop", "\trtn 1", "end 1, C, Main"]
    return "\n".join(lines) + "\n"


STATE = ["print %d" % MARK, "info instructions", "info registers", "print $pc", "print $29", "print $30",
         "print $31", "x/40 $29", "bt"]


def session(folder, cmds):
    env = dict(os.environ)
    if snapshots:
        env["QV_SNAPSHOT_EVERY"] = "97"
    if search:
        env["QV_SEARCH_BACK"] = "1"
    r = subprocess.run([debug, "--batch", "p.ic"], cwd=folder, input="\n".join(cmds) + "\nquit\n",
                       capture_output=True, text=True, timeout=100, env=env)
    return r.stdout


def states(out):
    """The states recorded, by instant (each block after the marker)."""
    blocks = out.split("= %d\n" % MARK)[1:]
    got = []
    for b in blocks:
        m = re.match(r"(\d+) instructions? executed", b)
        got.append((int(m.group(1)) if m else -1, b[:b.rfind("#0")] if "#0" in b else b))
    return got


def check(what, forward, back, expect_at=None):
    global failed
    if not back or -1 in [a for a, _ in forward + back]:
        print("FAIL %s: no states recorded" % what)
        failed += 1
        return
    by_at = {at: s for at, s in forward}
    for at, s in back:
        if at not in by_at:
            print("FAIL %s: went back to instruction %d, where the way forward never stopped" % (what, at))
            failed += 1
            return
        if by_at[at] != s:
            print("FAIL %s: the state at instruction %d differs:\n--- forward\n%s\n--- back\n%s" % (what, at, by_at[at], s))
            failed += 1
            return
    if expect_at is not None and [a for a, _ in back] != expect_at:
        print("FAIL %s: went back to %s, expected %s" % (what, [a for a, _ in back], expect_at))
        failed += 1


for seed in range(seeds):
    snapshots = seed % 2 == 1
    # Half the seeds go back by searching the run even where the steps
    # forward are known.
    search = seed % 4 < 2
    rnd = random.Random(seed)
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "p.ic"), "w") as f:
            f.write(program(rnd))
        with open(os.path.join(folder, "in"), "w") as f:
            f.write("".join("%d\n" % rnd.randint(-50, 50) for _ in range(40)))
        k = rnd.randint(20, 40)
        # step forward, then back as far.
        cmds = ["break Main", "run < in"] + STATE
        for _ in range(k):
            cmds += ["step"] + STATE
        for _ in range(k):
            cmds += ["reverse-step"] + STATE
        got = states(session(folder, cmds))
        fwd, back = got[:k + 1], got[k + 1:]
        check("seed %d: reverse-step" % seed, fwd, back, [a for a, _ in reversed(fwd[:-1])])
        # next forward and back; reverse-finish from inside a call.
        cmds = ["break Main", "run < in"] + STATE
        for _ in range(k):
            cmds += ["next"] + STATE
        for _ in range(k):
            cmds += ["rn"] + STATE
        got = states(session(folder, cmds))
        fwd, back = got[:k + 1], got[k + 1:]
        check("seed %d: reverse-next" % seed, fwd, back, [a for a, _ in reversed(fwd[:-1])])
        cmds = ["break Main", "run < in"] + STATE
        for _ in range(k):
            cmds += ["step"] + STATE
        cmds += ["reverse-finish"] + STATE
        out = session(folder, cmds)
        got = states(out)
        if "not meaningful in the outermost frame" not in out:
            check("seed %d: reverse-finish" % seed, got[:k + 1], got[k + 1:])
            if "\tcal -1, r4\n" not in out.split("Run back to call of")[1].split("= %d\n" % MARK)[0]:
                print("FAIL seed %d: reverse-finish did not stop at the call" % seed)
                failed += 1
        # breakpoint hits forward, then reverse-continue back over them.
        cmds = ["break Main", "run < in", "delete", "break P0"]
        for _ in range(4):
            cmds += ["continue"] + STATE
        cmds += ["rc"] + STATE + ["rc"] + STATE
        got = states(session(folder, cmds))
        check("seed %d: reverse-continue" % seed, got[:4], got[4:], [got[2][0], got[1][0]])

# Back from a run-time error and forward into it again: the same transcript
# whether going back starts from parked copies of SPIM or from the start.
fault = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fault.ic")
script = "run\nbt\nrs\nbt\nprint r3\nrs\nrs\ninfo instructions\nnext\nnext\nbt\nrc\nbt\nquit\n"
seen = []
for every in (None, "7"):
    env = dict(os.environ, QV_SNAPSHOT_EVERY=every) if every else os.environ
    seen.append(subprocess.run([debug, "--batch", fault], input=script, capture_output=True, text=True,
                               timeout=100, env=env).stdout)
if seen[0] != seen[1] or "read from address" not in seen[0]:
    print("FAIL a fault gone back from: with copies parked every 7 instructions\n%s\n--- without\n%s" % (seen[1], seen[0]))
    failed += 1

print("%d seeds, %d failures" % (seeds, failed))
sys.exit(1 if failed else 0)
