"""Wall time of quorvelin-run against a bare SPIM run of the same program.

  runner.py --runner BIN --translator BIN [--runs N] PROGRAM.ic

The program is translated once; then, alternating, `quorvelin-run PROGRAM.ic`
and `spim -file PROGRAM.s` are started (standard input and output on
/dev/null), N times each after one untimed run of each, and the medians are
compared.  Before timing, the runner's output must equal SPIM's without its
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


def timed(argv):
    null = os.open(os.devnull, os.O_RDWR)
    try:
        t0 = time.perf_counter()
        pid = os.posix_spawn(argv[0], argv, os.environ,
                             file_actions=[(os.POSIX_SPAWN_DUP2, null, 0), (os.POSIX_SPAWN_DUP2, null, 1),
                                           (os.POSIX_SPAWN_DUP2, null, 2)])
        _, status = os.waitpid(pid, 0)
        t = time.perf_counter() - t0
    finally:
        os.close(null)
    if status != 0:
        sys.exit("%s: exit status %d" % (" ".join(argv), status))
    return t


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runner", required=True)
    ap.add_argument("--translator", required=True)
    ap.add_argument("--runs", type=int, default=300)
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
        timed(run)
        timed(bare)
        tr, tb = [], []
        for _ in range(a.runs):
            tr.append(timed(run))
            tb.append(timed(bare))
    mr, mb = statistics.median(tr) * 1e3, statistics.median(tb) * 1e3
    print("program: %s (%d runs each, alternating, medians)" % (a.program, a.runs))
    print("  quorvelin-run:  %.2f ms wall (min %.2f)" % (mr, min(tr) * 1e3))
    print("  spim -file .s:  %.2f ms wall (min %.2f)" % (mb, min(tb) * 1e3))
    print("  ratio: %.2f (target <= 1.5): %s" % (mr / mb, "met" if mr / mb <= 1.5 else "NOT met"))


if __name__ == "__main__":
    main()
