#!/usr/bin/env python3
"""Measures quorvelin-lsp on a generated 10,000-line program (not a test).

    python3 bench/lsp.py [--server BUILD/quorvelin-lsp] [--gen BUILD/qv_bench_gen] [--lines N] [--runs N]

What it measures, each over --runs edits (medians and maxima, wall clock
from the last byte sent to the answer read):

- diagnostics: an incremental change (one operand retyped), then the
  publishDiagnostics for it; the server's debounce is set to 0 so that the
  time is the server's work, not its waiting;
- hover and definition right after such a change (the first request after
  it pays for reading the new text), and again with no change in between,
  on a second server with the usual debounce (200 ms), whose diagnostics
  come after the answer;
- semantic tokens of the whole document after a change;
- resident memory (VmRSS of the server) as the same document is edited
  1000 times, each edit followed by a hover: it must stay flat.

Targets: diagnostics 50 ms, hover and definition 10 ms.  The program comes
from bench/gen.cpp (built with c++ into a temporary directory when no
--gen is given and build-bench/qv_bench_gen does not exist).
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "lsp"))
from client import Client  # noqa: E402

URI = "file:///bench/prog.ic"


def program(gen, lines):
    if not gen:
        gen = os.path.join(ROOT, "build-bench", "qv_bench_gen")
        if not os.path.exists(gen):
            gen = os.path.join(tempfile.mkdtemp(), "qv_bench_gen")
            subprocess.run(["c++", "-O2", "-std=c++20", "-o", gen, os.path.join(HERE, "gen.cpp")], check=True)
    return subprocess.run([gen, str(lines)], capture_output=True, check=True).stdout.decode()


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


class Bench:
    def __init__(self, server, text, debounce_ms):
        self.c = Client(server, debounce_ms=debounce_ms)
        self.c.initialize()
        self.text = text
        self.lines = text.split("\n")
        self.version = 1
        self.c.open(URI, text)
        # A line "\tcst P<k>, r4" to retype, and a label use to hover on.
        self.edit_line = next(i for i, l in enumerate(self.lines) if l.startswith("\tcst P") and l.endswith(", r4"))
        self.label_col = len("\tcst ")
        self.flip = False

    def change(self):
        """Retypes the procedure name on the chosen line: P<k> becomes P<k>x, and back."""
        line = self.lines[self.edit_line]
        self.flip = not self.flip
        name = line[len("\tcst "):line.index(",")]
        new = name + "x" if self.flip else name[:-1]
        self.lines[self.edit_line] = "\tcst " + new + ", r4"
        self.version += 1
        self.c.notify("textDocument/didChange", {
            "textDocument": {"uri": URI, "version": self.version},
            "contentChanges": [{"range": {"start": {"line": self.edit_line, "character": 5},
                                          "end": {"line": self.edit_line, "character": 5 + len(name)}},
                                "text": new}]})

    def timed(self, method, **params):
        p = {"textDocument": {"uri": URI}}
        p.update(params)
        t = time.perf_counter()
        r = self.c.request(method, p)
        return (time.perf_counter() - t) * 1000, r

    def at(self, method):
        return self.timed(method, position={"line": self.edit_line, "character": self.label_col + 1})

    def diagnostics_after_change(self):
        t = time.perf_counter()
        self.change()
        v = self.version
        self.c.wait_for(lambda m: m.get("method") == "textDocument/publishDiagnostics"
                        and m["params"].get("version") == v)
        return (time.perf_counter() - t) * 1000

    def drain(self):
        """Takes the diagnostics of the last change, so that they do not queue up."""
        v = self.version
        self.c.wait_for(lambda m: m.get("method") == "textDocument/publishDiagnostics"
                        and m["params"].get("version") == v)


def summary(name, ms, target=None):
    med, worst = statistics.median(ms), max(ms)
    verdict = "" if target is None else ("  (target %d ms: %s)" % (target, "met" if med <= target else "MISSED"))
    print("%-34s median %7.2f ms   max %7.2f ms%s" % (name, med, worst, verdict))
    return med


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--server", default=os.path.join(ROOT, "build-lsp", "quorvelin-lsp"))
    ap.add_argument("--gen")
    ap.add_argument("--lines", type=int, default=10000)
    ap.add_argument("--runs", type=int, default=30)
    ap.add_argument("--edits", type=int, default=1000)
    a = ap.parse_args()
    text = program(a.gen, a.lines)
    print("program: %d lines, %d bytes; server %s" % (text.count("\n"), len(text.encode()), a.server))
    b = Bench(a.server, text, 0)
    q = Bench(a.server, text, 200)

    diag = [b.diagnostics_after_change() for _ in range(a.runs)]
    hover_changed, hover_same, def_changed, def_same, tokens = [], [], [], [], []
    for _ in range(a.runs):
        q.change()
        hover_changed.append(q.at("textDocument/hover")[0])
        hover_same.append(q.at("textDocument/hover")[0])
        q.drain()
        q.change()
        ms, r = q.at("textDocument/definition")
        def_changed.append(ms)
        if r is None:
            sys.exit("bench: no definition found at the edited line")
        def_same.append(q.at("textDocument/definition")[0])
        q.drain()
        q.change()
        tokens.append(q.timed("textDocument/semanticTokens/full")[0])
        q.drain()
    q.c.shutdown()
    summary("diagnostics after a change", diag, 50)
    summary("hover right after a change", hover_changed, 10)
    summary("hover, no change", hover_same, 10)
    summary("definition right after a change", def_changed, 10)
    summary("definition, no change", def_same, 10)
    summary("semantic tokens after a change", tokens)

    samples = []
    for i in range(a.edits):
        b.change()
        b.at("textDocument/hover")
        b.drain()
        if (i + 1) % (a.edits // 10) == 0:
            samples.append(rss_kb(b.c.proc.pid))
    print("RSS over %d edits (every %d): %s KB" % (a.edits, a.edits // 10, " ".join(map(str, samples))))
    growth = samples[-1] - samples[0]
    print("RSS growth from the first sample to the last: %d KB (%s)" %
          (growth, "flat" if growth <= max(1024, samples[0] // 20) else "GROWING"))
    b.c.shutdown()


if __name__ == "__main__":
    main()
