"""Wall time of quorvelin-run against a bare SPIM run of the same program.

  runner.py --runner BIN --translator BIN [--runs N] [--target RATIO] PROGRAM.ic

The program is translated once; then, alternating, `quorvelin-run PROGRAM.ic`
and `spim -file PROGRAM.s` are started, N times each after one untimed run
of each, and the medians are compared: once with standard output on a pipe
that this script reads to its end (as a terminal or a pipeline takes it, and
as bench/alternate.cpp measures), once on /dev/null.  Before timing, the runner's output must equal SPIM's without its
five banner lines.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def timed(argv, pipe):
    """One run; standard output on a pipe read to its end, or on /dev/null."""
    null = os.open(os.devnull, os.O_RDWR)
    r = w = -1
    try:
        out = null
        if pipe:
            r, w = os.pipe()
            out = w
        t0 = time.perf_counter()
        pid = os.posix_spawn(argv[0], argv, os.environ,
                             file_actions=[(os.POSIX_SPAWN_DUP2, null, 0), (os.POSIX_SPAWN_DUP2, out, 1),
                                           (os.POSIX_SPAWN_DUP2, null, 2)])
        if pipe:
            os.close(w)
            w = -1
            while os.read(r, 1 << 16):
                pass
        _, status = os.waitpid(pid, 0)
        t = time.perf_counter() - t0
    finally:
        for fd in (null, r, w):
            if fd >= 0:
                os.close(fd)
    if status != 0:
        sys.exit("%s: exit status %d" % (" ".join(argv), status))
    return t


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runner", required=True)
    ap.add_argument("--translator", required=True)
    ap.add_argument("--runs", type=int, default=300)
    ap.add_argument("--target", type=float, default=1.5, help="the ratio runner / spim to meet")
    ap.add_argument("program")
    a = ap.parse_args()
    spim = shutil.which("spim")
    if not spim:
        sys.exit("spim is not installed")
    with tempfile.TemporaryDirectory() as tmp:
        asm = os.path.join(tmp, "prog.s")
        with open(asm, "wb") as f:
            subprocess.run([a.translator, a.program], stdout=f, check=True)
        run = [os.path.abspath(a.runner), a.program]
        bare = [spim, "-file", asm]
        got = subprocess.run(run, stdin=subprocess.DEVNULL, capture_output=True, check=True).stdout
        want = subprocess.run(bare, stdin=subprocess.DEVNULL, capture_output=True, check=True).stdout
        want = b"".join(want.splitlines(keepends=True)[5:])
        if got != want:
            sys.exit("the runner's output differs from SPIM's")
        print("program: %s (%d runs each, alternating, medians)" % (a.program, a.runs))
        for pipe in (True, False):
            timed(run, pipe)
            timed(bare, pipe)
            tr, tb = [], []
            for _ in range(a.runs):
                tr.append(timed(run, pipe))
                tb.append(timed(bare, pipe))
            mr, mb = statistics.median(tr) * 1e3, statistics.median(tb) * 1e3
            print("output %s:" % ("read through a pipe" if pipe else "to /dev/null"))
            print("  quorvelin-run:  %.2f ms wall (min %.2f)" % (mr, min(tr) * 1e3))
            print("  spim -file .s:  %.2f ms wall (min %.2f)" % (mb, min(tb) * 1e3))
            print("  ratio: %.2f (target <= %g): %s" % (mr / mb, a.target, "met" if mr / mb <= a.target else "NOT met"))


if __name__ == "__main__":
    main()
