"""SPIM under the project's commands against a bare `spim -file`; bench/spim.sh calls this.

  spim.py --bin DIR [--runs N] [--trace-lines N] [--factorial-runs N] [--quick]

DIR holds quorvelin, quorvelin-run, quorvelin-debug and libqvspim.so.  On
bench/compute.ic, translated once, each round runs, in turn: `spim -file` of
its assembly, quorvelin-run, quorvelin-run without the library
(QV_SPIM_PRELOAD empty), the debugger's continue from the first line of Main
(timed on a pseudo-terminal from its Enter to the next prompt, as
bench/debug.sh does), and a whole `quorvelin-debug --batch` session doing the
same; medians.  Then --trace's lines a second, and bench/runner.py on
examples/factorial.ic.  Standard input is /dev/null throughout.
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

from qvdb import Session

HERE = os.path.dirname(os.path.abspath(__file__))


def timed(argv, env=None, stdin=subprocess.DEVNULL):
    t = time.perf_counter()
    subprocess.run(argv, env=env, stdin=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return time.perf_counter() - t


def continue_time(debug, prog):
    s = Session([debug, prog])
    s.cmd("break Main")
    s.cmd("run")
    t, seen = s.cmd("continue")
    s.close()
    if "exited normally" not in seen:
        sys.exit("continue did not run the program to its end:\n" + seen)
    return t


def trace_rate(runner, prog, limit):
    """Lines of --trace a second: lines before the note that the trace stops,
    over the time from the start to that note (the program then runs on)."""
    t0 = time.perf_counter()
    p = subprocess.Popen([runner, "--trace", "--trace-limit", str(limit), prog],
                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    lines, t = 0, None
    for line in p.stderr:
        if b"the trace stops" in line:
            t = time.perf_counter() - t0
            break
        lines += 1
    p.stderr.read()
    if p.wait() != 0 or t is None or lines != limit:
        sys.exit("--trace: %d lines, exit status %d, no note of its end" % (lines, p.returncode))
    return lines, t


def verdict(ok, quick):
    return "" if quick else (": met" if ok else ": NOT met")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--trace-lines", type=int, default=30000)
    ap.add_argument("--trace-runs", type=int, default=3)
    ap.add_argument("--factorial-runs", type=int, default=300)
    ap.add_argument("--quick", action="store_true", help="a small program, one run: checks that it works")
    a = ap.parse_args()
    b = lambda name: os.path.abspath(os.path.join(a.bin, name))
    translator, runner, debug = b("quorvelin"), b("quorvelin-run"), b("quorvelin-debug")
    with open(os.path.join(HERE, "compute.ic")) as f:
        source = f.read()
    if a.quick:
        a.runs, a.trace_lines, a.trace_runs, a.factorial_runs = 1, 1000, 1, 5
        source, n = re.subn(r"cst \d+, r0(\t+// turns left)", r"cst 2000, r0\1", source)
        assert n == 1
    nolib = dict(os.environ, QV_SPIM_PRELOAD="")

    with tempfile.TemporaryDirectory() as tmp:
        prog, asm = os.path.join(tmp, "compute.ic"), os.path.join(tmp, "compute.s")
        with open(prog, "w") as f:
            f.write(source)
        with open(asm, "wb") as f:
            subprocess.run([translator, prog], stdout=f, check=True)
        bare = ["spim", "-file", asm]
        # The same output, and the instruction count from --stats.
        want = subprocess.run(bare, stdin=subprocess.DEVNULL, capture_output=True, check=True).stdout
        got = subprocess.run([runner, "--stats", prog], stdin=subprocess.DEVNULL, capture_output=True, check=True)
        if got.stdout != b"".join(want.splitlines(keepends=True)[5:]):
            sys.exit("the runner's output differs from SPIM's")
        count = int(re.search(rb"(\d+) instructions executed", got.stderr).group(1))
        with open(os.path.join(tmp, "commands"), "w") as f:
            f.write("break Main\nrun\ncontinue\n")

        times = {k: [] for k in ("bare", "run", "nolib", "continue", "batch")}
        for _ in range(a.runs):
            times["bare"].append(timed(bare))
            times["run"].append(timed([runner, prog]))
            times["nolib"].append(timed([runner, prog], env=nolib))
            times["continue"].append(continue_time(debug, prog))
            with open(os.path.join(tmp, "commands")) as cmds:
                times["batch"].append(timed([debug, "--batch", prog], stdin=cmds))
        m = {k: statistics.median(v) for k, v in times.items()}
        print("program: bench/compute.ic%s, %d instructions (%d runs each, alternating, medians)"
              % (" (2000 turns)" if a.quick else "", count, a.runs))
        print("  spim -file .s:                   %8.1f ms" % (m["bare"] * 1e3))
        print("  quorvelin-run, no library:       %8.1f ms = %.3fx" % (m["nolib"] * 1e3, m["nolib"] / m["bare"]))
        print("  debugger, whole --batch session: %8.1f ms = %.3fx" % (m["batch"] * 1e3, m["batch"] / m["bare"]))
        r = m["run"] / m["bare"]
        print("(1) quorvelin-run: %.1f ms = %.3fx spim -file (target <= 0.1)%s" % (m["run"] * 1e3, r, verdict(r <= 0.1, a.quick)))
        r = m["continue"] / m["bare"]
        print("(2) debugger's continue from Main to the end: %.1f ms = %.3fx spim -file (target <= 0.1)%s"
              % (m["continue"] * 1e3, r, verdict(r <= 0.1, a.quick)))

        ts = []
        for _ in range(a.trace_runs):
            lines, t = trace_rate(runner, prog, a.trace_lines)
            ts.append(t)
        t = statistics.median(ts)
        print("(3) quorvelin-run --trace: %d lines in %.2f s = %.0f lines/s (target >= 10000)%s"
              % (lines, t, lines / t, verdict(lines / t >= 10000, a.quick)))

    print("(4) start-up, bench/runner.py:")
    sys.stdout.flush()
    subprocess.run([sys.executable, os.path.join(HERE, "runner.py"), "--runner", runner, "--translator", translator,
                    "--runs", str(a.factorial_runs), "--target", "1.2",
                    os.path.join(os.path.dirname(HERE), "examples", "factorial.ic")], check=True)
    if a.quick:
        print("quick check passed (a small program, few runs: not a measurement)")


if __name__ == "__main__":
    main()
