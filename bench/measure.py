#!/usr/bin/env python3
"""Measures the translator on generated programs; bench/run.sh calls this.

Every timed run reads the translator's output through a pipe into the same
consumer (cat > /dev/null), and so does the reference: cat copying a file of
that same output into the pipe.  Times are wall-clock medians over several
runs; peak resident memory comes from wait4() of the translator process
(through qv_bench_spawn, see bench/spawn.cpp).
MB means 10^6 bytes.
"""

import argparse
import fcntl
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "out")
SPAWN = None


def fail(msg):
    print("bench: FAILED: " + msg, file=sys.stderr)
    sys.exit(1)


def generate(gen, lines, path):
    with open(path, "wb") as f:
        subprocess.run([gen, str(lines)], stdout=f, check=True)
    return os.path.getsize(path)


class Usage:
    def __init__(self, maxrss_kb, user_s, sys_s):
        self.maxrss_kb = maxrss_kb
        self.user_s = user_s
        self.sys_s = sys_s


def piped(cmd, tmp, pipe_size=None):
    """Runs cmd with its stdout piped into `cat > /dev/null`; with pipe_size,
    the pipe is grown to that size first.

    Returns (wall seconds, Usage of cmd, exit status of cmd)."""
    report = os.path.join(tmp, "usage")
    t0 = time.perf_counter()
    r, w = os.pipe()
    if pipe_size:
        fcntl.fcntl(w, fcntl.F_SETPIPE_SZ, pipe_size)
    prod = subprocess.Popen([SPAWN, report] + cmd, stdout=w, stderr=subprocess.DEVNULL)
    cons = subprocess.Popen(["cat"], stdin=r, stdout=subprocess.DEVNULL)
    os.close(r)
    os.close(w)
    status = prod.wait()
    cons.wait()
    t1 = time.perf_counter()
    with open(report) as f:
        rss, user, sys_ = f.read().split()
    return t1 - t0, Usage(int(rss), float(user), float(sys_)), status


def translate_to(qv, args, path, stdin=None):
    with open(path, "wb") as f:
        r = subprocess.run([qv] + args, stdin=stdin, stdout=f, stderr=subprocess.PIPE)
    if r.returncode != 0:
        fail("%s %s exited with %d: %s" % (qv, " ".join(args), r.returncode, r.stderr.decode()[:200]))
    return r.stderr


def warm(path):
    """Reads a file once, so that a timed run finds it in the page cache (the
    machine may page out cold file pages between runs)."""
    with open(path, "rb", buffering=0) as f:
        while f.read(1 << 22):
            pass


def same_file(a, b):
    return subprocess.run(["cmp", "-s", a, b]).returncode == 0


def check_streams(qv, ic, ref, tmp):
    """The output is the same from a file, /dev/stdin (a pipe) and a FIFO."""
    stdin_out = os.path.join(tmp, "stdin.s")
    feeder = subprocess.Popen(["cat", ic], stdout=subprocess.PIPE)
    translate_to(qv, ["/dev/stdin"], stdin_out, stdin=feeder.stdout)
    feeder.stdout.close()
    feeder.wait()
    if not same_file(ref, stdin_out):
        fail("output from /dev/stdin differs from output from the file")
    print("  /dev/stdin (pipe) input: same output as from the file")


def check_fifo_streaming(qv, ic, ref, tmp):
    """Output appears while the FIFO is still open: feed half the input, wait
    for output beyond the header, then feed the rest."""
    fifo = os.path.join(tmp, "in.fifo")
    os.mkfifo(fifo)
    out_path = os.path.join(tmp, "fifo.s")
    with open(ic, "rb") as f:
        data = f.read()
    half = data.rfind(b"\n", 0, len(data) // 2) + 1
    out = open(out_path, "wb")
    proc = subprocess.Popen([qv, fifo], stdout=out, stderr=subprocess.DEVNULL)
    seen = {}

    def feed():
        with open(fifo, "wb") as w:
            w.write(data[:half])
            w.flush()
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline:
                size = os.path.getsize(out_path)
                if size > 4096:
                    seen["early"] = size
                    break
                time.sleep(0.01)
            w.write(data[half:])

    t = threading.Thread(target=feed)
    t.start()
    t.join()
    proc.wait()
    out.close()
    if proc.returncode != 0:
        fail("translating from a FIFO exited with %d" % proc.returncode)
    if "early" not in seen:
        fail("no output arrived while the FIFO was still open")
    if not same_file(ref, out_path):
        fail("output from a FIFO differs from output from the file")
    print("  FIFO input: %d bytes of output before the second half of the input was written;"
          " same output as from the file" % seen["early"])


def count_writes(qv, ic, tmp):
    """System calls of one run, by strace (when it is installed)."""
    if not shutil.which("strace"):
        print("  write calls: strace not installed, not counted")
        return None
    log = os.path.join(tmp, "strace.log")
    with open(os.devnull, "wb") as null:
        subprocess.run(["strace", "-qq", "-e", "trace=read,write", "-o", log, qv, ic],
                       stdout=null, stderr=subprocess.DEVNULL, check=True)
    writes = {}
    reads = 0
    with open(log) as f:
        for line in f:
            if line.startswith("write("):
                fd = line[6:line.index(",")]
                size = int(line.rsplit("=", 1)[1])
                n, total = writes.get(fd, (0, 0))
                writes[fd] = (n + 1, total + size)
            elif line.startswith("read("):
                reads += 1
    n1, b1 = writes.get("1", (0, 0))
    n2, _ = writes.get("2", (0, 0))
    print("  system calls: %d writes to stdout (average %.0f KB), %d to stderr, %d reads"
          % (n1, b1 / max(n1, 1) / 1024, n2, reads))
    return n1, n2, reads


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--gen", required=True)
    ap.add_argument("--spawn", required=True)
    ap.add_argument("--quick", action="store_true", help="a small input, one run: checks that it works")
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--lines", type=int, default=1_000_000)
    ap.add_argument("--big", type=int, default=10_000_000, help="lines of the memory check input (0: skip)")
    ap.add_argument("--check", help="quorvelin-check: also time the checker on the same input")
    ap.add_argument("--alternate", help="qv_bench_alternate (bench/alternate.cpp): enables the small-input case")
    ap.add_argument("--small-runs", type=int, default=300, help="runs of each command on the small input")
    a = ap.parse_args()
    qv = os.path.abspath(a.bin)
    global SPAWN
    SPAWN = os.path.abspath(a.spawn)
    if a.quick:
        a.lines, a.big, a.runs, a.small_runs = 20_000, 200_000, 1, 5
    os.makedirs(OUT, exist_ok=True)
    tmp = tempfile.mkdtemp(prefix="qv-bench-")
    try:
        run(a, qv, tmp)
        if a.alternate:
            small(a, qv, tmp)
        if a.quick:
            print("quick check passed (figures of small inputs, few runs: not a measurement)")
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


def run(a, qv, tmp):
    ic = os.path.join(OUT, "p%d.ic" % a.lines)
    ref = os.path.join(OUT, "p%d.s" % a.lines)
    t = time.perf_counter()
    in_bytes = generate(a.gen, a.lines, ic)
    gen_s = time.perf_counter() - t
    with open(ic, "rb") as f:
        in_lines = sum(chunk.count(b"\n") for chunk in iter(lambda: f.read(1 << 20), b""))
    translate_to(qv, [ic], ref)
    out_bytes = os.path.getsize(ref)
    print("input:  %s, %d lines, %.1f MB (generated in %.2f s)" % (os.path.relpath(ic), in_lines, in_bytes / 1e6, gen_s))
    print("output: %.1f MB (%.1f x the input)" % (out_bytes / 1e6, out_bytes / max(in_bytes, 1)))
    if out_bytes <= in_bytes:
        print("  note: the output is not larger than the input; are the handlers still stubs?")

    print("checks:")
    check_streams(qv, ic, ref, tmp)
    check_fifo_streaming(qv, ic, ref, tmp)
    count_writes(qv, ic, tmp)

    # Alternate the two commands so both see the same machine state; one
    # untimed run of each first.
    for cmd in ([qv, ic], ["cat", ref]):
        piped(cmd, tmp)
    tq, tc, rss, qu, qs, cu, cs = [], [], [], [], [], [], []
    tk, krss = [], []
    if a.check:
        piped([a.check, ic], tmp)
    big_pipe_q, big_pipe_c = [], []
    for _ in range(a.runs):
        warm(ic)
        s, ru, status = piped([qv, ic], tmp)
        if status != 0:
            fail("translator exited with %d" % status)
        tq.append(s)
        rss.append(ru.maxrss_kb)
        qu.append(ru.user_s)
        qs.append(ru.sys_s)
        warm(ref)
        s, ru, _ = piped(["cat", ref], tmp)
        tc.append(s)
        cu.append(ru.user_s)
        cs.append(ru.sys_s)
        if a.check:
            # Its diagnostics go to standard error, which is dropped here.
            warm(ic)
            s, ru, status = piped([a.check, ic], tmp)
            if status not in (0, 1):
                fail("checker exited with %d" % status)
            tk.append(s)
            krss.append(ru.maxrss_kb)
        # The same, with both given a pipe of 1 MB (the translator grows its
        # pipe to that size by itself; cat does not).
        if hasattr(fcntl, "F_SETPIPE_SZ"):
            warm(ic)
            big_pipe_q.append(piped([qv, ic], tmp, 1 << 20)[0])
            warm(ref)
            big_pipe_c.append(piped(["cat", ref], tmp, 1 << 20)[0])
    mq, mc = statistics.median(tq), statistics.median(tc)

    print("timing (%d runs each, medians; output read through a pipe by cat > /dev/null):" % a.runs)
    med = lambda v: statistics.median(v) * 1e3
    print("  translator: %.1f ms wall (%.1f ms user, %.1f ms sys)" % (mq * 1e3, med(qu), med(qs)))
    print("  cat of its output: %.1f ms wall (%.1f ms user, %.1f ms sys)" % (mc * 1e3, med(cu), med(cs)))
    print("  input  %.0f MB/s" % (in_bytes / 1e6 / mq))
    print("  output %.0f MB/s" % (out_bytes / 1e6 / mq))
    print("  lines  %.2f M lines/s" % (in_lines / 1e6 / mq))
    ratio = mq / mc
    print("  ratio translator / cat: %.2f (target <= 2.0)%s" % (ratio, "" if a.quick else (": met" if ratio <= 2.0 else ": NOT met")))
    if big_pipe_q:
        print("  both on a 1 MB pipe: translator %.1f ms, cat %.1f ms, ratio %.2f"
              % (med(big_pipe_q), med(big_pipe_c), statistics.median(big_pipe_q) / statistics.median(big_pipe_c)))
    if tk:
        mk = statistics.median(tk)
        kratio = mk / mq
        print("  checker: %.1f ms wall, %.2f M lines/s; ratio checker / translator: %.2f (target <= 2.0)%s"
              % (mk * 1e3, in_lines / 1e6 / mk, kratio, "" if a.quick else (": met" if kratio <= 2.0 else ": NOT met")))
    print("memory:")
    print("  peak RSS, %d lines: %d KB" % (in_lines, max(rss)))
    if krss:
        print("  checker peak RSS, %d lines: %d KB" % (in_lines, max(krss)))

    if a.big:
        big = os.path.join(OUT, "p%d.ic" % a.big)
        t = time.perf_counter()
        big_bytes = generate(a.gen, a.big, big)
        gen_s = time.perf_counter() - t
        warm(big)
        s, ru, status = piped([qv, big], tmp)
        if status != 0:
            fail("translator exited with %d on the big input" % status)
        diff = ru.maxrss_kb - max(rss)
        print("  peak RSS, %d lines wanted (%.0f MB, generated in %.2f s): %d KB, %.1f s wall, %.0f MB/s in;"
              " difference %+d KB (target within 1024 KB)%s"
              % (a.big, big_bytes / 1e6, gen_s, ru.maxrss_kb, s, big_bytes / 1e6 / s, diff,
                 "" if a.quick else (": met" if abs(diff) <= 1024 else ": NOT met")))
        os.remove(big)  # 125 MB that nothing else reads
    if a.quick:
        os.remove(ref)
        os.remove(ic)


def small(a, qv, tmp):
    """Start-up: wall time on a small program against cat copying the same
    output from a file, both read through a pipe to its end by the timing
    program, alternating, medians."""
    ic = os.path.join(os.path.dirname(HERE), "examples", "factorial.ic")
    ref = os.path.join(tmp, "factorial.s")
    translate_to(qv, [ic], ref)
    with open(ic, "rb") as f:
        in_lines = f.read().count(b"\n")
    r = subprocess.run([os.path.abspath(a.alternate), str(a.small_runs), qv, ic, "--", "cat", ref],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if r.returncode != 0:
        fail("small input: " + r.stderr.strip())
    mq, mc, out_bytes, minq, minc = r.stdout.split()
    mq, mc, minq, minc = float(mq), float(mc), float(minq), float(minc)
    print("small input: examples/factorial.ic, %d lines, %s bytes of output" % (in_lines, out_bytes))
    print("timing (%d runs each, alternating, medians; output read through a pipe to its end):" % a.small_runs)
    print("  translator: %.3f ms wall (fastest %.3f ms)" % (mq / 1e3, minq / 1e3))
    print("  cat of its output: %.3f ms wall (fastest %.3f ms)" % (mc / 1e3, minc / 1e3))
    ratio = mq / mc
    print("  ratio translator / cat: %.2f (target <= 1.0)%s"
          % (ratio, "" if a.quick else (": met" if ratio <= 1.0 else ": NOT met")))


if __name__ == "__main__":
    main()
