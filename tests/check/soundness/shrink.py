#!/usr/bin/env python3
"""Shrinks a soundness failure to the fewest lines that still show it.

    shrink.py BUILD_DIR PROGRAM.ic > SMALL.ic

A program still fails when quorvelin-check passes it (exit 0) and SPIM's load
of its translation gives a message of the same kind as the original's (the
same first line, with line numbers and file names left out).  Lines are
dropped in halves, then in quarters, ... then one at a time, until no single
line can go.
"""
import os
import re
import subprocess
import sys
import tempfile

BANNER_LINES = 5


def kind(msg):
    """The first line SPIM wrote beyond its banner, without places."""
    first = msg.strip().splitlines()[0] if msg.strip() else ""
    first = re.sub(r"on line \d+ of file \S+", "", first)
    first = re.sub(r"pc 0x[0-9a-f]+", "pc", first)
    return first


class Tester:
    def __init__(self, build):
        self.qv = os.path.join(build, "quorvelin")
        self.chk = os.path.join(build, "quorvelin-check")
        self.dir = tempfile.mkdtemp()
        self.trap = os.path.join(self.dir, "trap.s")
        with open(self.trap, "w") as f:
            f.write("\t.text\n\t.globl __start\n__start:\tli $v0, 10\n\tsyscall\n")

    def message(self, data):
        """SPIM's message for the program, or None when the checker rejects it."""
        ic = os.path.join(self.dir, "p.ic")
        s = os.path.join(self.dir, "p.s")
        with open(ic, "wb") as f:
            f.write(data)
        if subprocess.run([self.chk, ic], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
            return None
        with open(s, "wb") as f:
            subprocess.run([self.qv, ic], stdout=f, stderr=subprocess.DEVNULL)
        try:
            p = subprocess.run(["spim", "-exception_file", self.trap, "-file", s], stdin=subprocess.DEVNULL,
                               capture_output=True, timeout=10)
        except subprocess.TimeoutExpired:
            return "timeout"
        out = p.stdout.decode("latin-1").split("\n", BANNER_LINES)
        rest = out[BANNER_LINES] if len(out) > BANNER_LINES else ""
        return (rest + p.stderr.decode("latin-1")).strip()


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    t = Tester(argv[1])
    with open(argv[2], "rb") as f:
        lines = f.read().split(b"\n")
    want = t.message(b"\n".join(lines))
    if not want:
        sys.stderr.write("shrink.py: the program does not fail\n")
        return 1
    want_kind = kind(want)

    def fails(ls):
        m = t.message(b"\n".join(ls))
        return bool(m) and kind(m) == want_kind

    n = 2
    while len(lines) >= 2:
        chunk = max(1, len(lines) // n)
        removed = False
        i = 0
        while i < len(lines):
            trial = lines[:i] + lines[i + chunk:]
            if trial and fails(trial):
                lines = trial
                removed = True
            else:
                i += chunk
        if not removed:
            if chunk == 1:
                break
            n *= 2
    sys.stdout.buffer.write(b"\n".join(lines) + (b"\n" if lines[-1] else b""))
    sys.stderr.write("SPIM: " + t.message(b"\n".join(lines)).splitlines()[0] + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
