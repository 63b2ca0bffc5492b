#!/usr/bin/env python3
"""The checker's byte claims held against what the translator writes.

    bytes_run.py BUILD_DIR COUNT [FIRST_SEED]

gen.py --bytes writes COUNT programs, each with bytes outside printable ASCII
planted at places of its lines (label, opcode, operands and what stands
between them, about the literal, the comment, the cut at column 100, the
first line after a byte-order mark, the last line).  For each program:

  1. the whole program: quorvelin-check says a byte outside ASCII reaches the
     assembly exactly when the translation holds one, and that a control
     character reaches it exactly when the translation holds one where SPIM
     reads code (outside its string literals and comments);
  2. each line: the program is translated once more with a comment and a
     label line after every line, so that what each line writes lies between
     two labels; the checker's errors on the line are those its share of the
     translation calls for;
  3. each line of which the checker says "unknown opcode ...: the translator
     writes nothing (only the label) for this line": its share is empty (the
     label's line), and the translation is the same with the line's code
     from the opcode on replaced by blanks (unless that holds a literal,
     which str may write later).

A program the checker passes is also loaded in SPIM, as run.sh does: it must
load without a word (the bytes left in it are in comments and literals of
the assembly).  Failing programs are kept as BUILD_DIR/bytes-failures/
seed-N.ic.  Exit status: 0 all equal, 1 a difference, 2 usage or setup error.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen  # noqa: E402

CONTROL = set(range(0x20)) - {0x09, 0x0A, 0x0D} | {0x7F}
MARK = b"QVMARK%d:"
DIAG = re.compile(rb"^prog\.ic:(\d+):(\d+): error: (.*) \[-W([a-z-]+)\]$", re.M)
LABEL_LINE = re.compile(rb"[^\n]*:\t\t nop\n")


def control_in_code(text):
    """Whether SPIM reads a control byte of the assembly as code: not in a
    string literal, which stores it, nor in a comment."""
    in_string = in_comment = False
    i = 0
    while i < len(text):
        c = text[i]
        if c == 0x0A:
            in_string = in_comment = False
        elif in_comment:
            pass
        elif in_string:
            if c == 0x5C:
                i += 1
            elif c == 0x22:
                in_string = False
        elif c == 0x22:
            in_string = True
        elif c == 0x23:
            in_comment = True
        elif c == 0x27 and i + 2 < len(text) and text[i + 2] == 0x27:
            i += 2
        elif c in CONTROL:
            return True
        i += 1
    return False


def kinds(text):
    """What of the two kinds of byte a translation holds."""
    return {k for k, v in (("high", any(c >= 0x80 for c in text)), ("control", control_in_code(text))) if v}


def physical_lines(data):
    """The file's lines, each with its line break."""
    lines = data.split(b"\n")
    out = [l + b"\n" for l in lines[:-1]]
    if lines[-1]:
        out.append(lines[-1])
    return out


class Run:
    def __init__(self, build, work):
        self.qv = os.path.join(build, "quorvelin")
        self.chk = os.path.join(build, "quorvelin-check")
        self.work = work
        self.spim = shutil.which("spim")
        self.trap = os.path.join(work, "trap.s")
        with open(self.trap, "w") as f:
            f.write("\t.text\n\t.globl __start\n__start:\tli $v0, 10\n\tsyscall\n")

    def load(self, d, asm):
        """What SPIM says beyond its banner when it loads the assembly."""
        path = os.path.join(d, "prog.s")
        with open(path, "wb") as f:
            f.write(asm)
        try:
            p = subprocess.run(["spim", "-exception_file", self.trap, "-file", path], capture_output=True,
                               stdin=subprocess.DEVNULL, timeout=10)
        except subprocess.TimeoutExpired:
            return "no end of loading in 10 s (a hang)"
        said = p.stdout.split(b"\n")[5:]
        return (b"\n".join(said).strip() + p.stderr).decode("latin-1")[:300]

    def translate(self, d, data):
        path = os.path.join(d, "prog.ic")
        with open(path, "wb") as f:
            f.write(data)
        return subprocess.run([self.qv, "prog.ic"], cwd=d, capture_output=True, check=True).stdout

    def one(self, seed):
        """The differences found in one program, as lines of text, and
        whether the checker passed it."""
        data = gen.program(seed, bytes_mode=True)
        d = os.path.join(self.work, str(seed))
        os.makedirs(d, exist_ok=True)
        out = self.translate(d, data)
        chk = subprocess.run([self.chk, "--color=never", "--max-errors", "0", "prog.ic"], cwd=d,
                             capture_output=True, stdin=subprocess.DEVNULL)
        if chk.returncode not in (0, 1):
            return ["the checker failed with status %d" % chk.returncode], False
        said = {}  # line -> kinds the checker names
        unknown = {}  # line -> the opcode's column, and whether the line keeps a label
        for m in DIAG.finditer(chk.stderr):
            line, text, rule = int(m.group(1)), m.group(3), m.group(4).decode()
            if rule == "non-ascii":
                said.setdefault(line, set()).add("high" if b"outside ASCII reaches" in text else "control")
            elif rule == "unknown-opcode":
                unknown[line] = (int(m.group(2)), b"writes only the label" in text)
        problems = []
        if chk.returncode == 0 and self.spim:
            load = self.load(d, out)
            if load:
                problems.append("the checker passes it, but SPIM says: " + load)
        whole = set().union(*said.values()) if said else set()
        if whole != kinds(out):
            problems.append("program: the checker says %s, the translation holds %s" %
                            (sorted(whole), sorted(kinds(out))))
        # Each line's share: a label line after every line, behind a comment
        # that closes a class table the line leaves open (a label line
        # writes its label before the ".text" that closes one).
        lines = physical_lines(data)
        marked = b"//\n" + MARK % 0 + b"\n" + b"".join(
            (l if l.endswith(b"\n") else l + b"\n") + b"//\n" + MARK % (i + 1) + b"\n" for i, l in enumerate(lines))
        text = self.translate(d, marked)
        shares = re.split(rb"^QVMARK\d+:\t\t nop\n", text, flags=re.M)
        if len(shares) != len(lines) + 2:
            return problems + ["the marked translation has %d shares for %d lines" % (len(shares), len(lines))], False
        for n in range(1, len(lines) + 1):
            share = shares[n]
            if said.get(n, set()) != kinds(share):
                problems.append("line %d: the checker says %s, its translation holds %s" %
                                (n, sorted(said.get(n, set())), sorted(kinds(share))))
            if n in unknown:
                # Nothing but the label's line, and the same translation with
                # the line's code from the opcode on (in the first piece)
                # blanked.
                col, labelled = unknown[n]
                if not (LABEL_LINE.fullmatch(share) if labelled else share == b""):
                    problems.append("line %d: an unknown opcode, but the line writes %r" % (n, share[:200]))
                line = lines[n - 1]
                code = line.rstrip(b"\n")[:99]
                if b'"' not in code[col - 1:]:
                    blanked = code[:col - 1] + b" " * (len(code) - col + 1)
                    text = b"".join(lines[:n - 1]) + blanked + line[len(code):] + b"".join(lines[n:])
                    if self.translate(d, text) != out:
                        problems.append("line %d: an unknown opcode, but blanking it changes the translation" % n)
        return problems, chk.returncode == 0


def main(argv):
    if len(argv) not in (3, 4):
        sys.stderr.write(__doc__)
        return 2
    build, count = os.path.abspath(argv[1]), int(argv[2])
    first = int(argv[3]) if len(argv) == 4 else 1
    fails = os.path.join(build, "bytes-failures")
    with tempfile.TemporaryDirectory() as work:
        run = Run(build, work)
        for t in (run.qv, run.chk):
            if not os.access(t, os.X_OK):
                sys.stderr.write("%s: %s not found (build first)\n" % (argv[0], t))
                return 2
        seeds = range(first, first + count)
        with ThreadPoolExecutor(max_workers=2) as pool:
            results = list(pool.map(run.one, seeds))
    failed = 0
    for seed, (problems, _) in zip(seeds, results):
        if problems:
            failed += 1
            os.makedirs(fails, exist_ok=True)
            with open(os.path.join(fails, "seed-%d.ic" % seed), "wb") as f:
                f.write(gen.program(seed, bytes_mode=True))
            print("DIFFERENCE seed %d (kept as %s/seed-%d.ic):" % (seed, fails, seed))
            for p in problems[:6]:
                print("    " + p)
    passed = sum(1 for _, ok in results if ok)
    print("programs: %d (seeds %d to %d); the checker passed %d%s; with a difference: %d" %
          (count, first, first + count - 1, passed, " (loaded in SPIM)" if run.spim else "", failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
