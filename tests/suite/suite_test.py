"""quorvelin-test as its users meet it: the examples as a suite that passes;
planted failures (tests/suite/planted, tests/suite/compiled) reported as
such, through a person's report and through TAP read by Perl's prove, JUnit
XML read by xmllint, Gradescope's results.json and JSON lines; --update,
--shard, a missing path and Ctrl-C.

  suite_test.py QUORVELIN_TEST PROJECT_DIR
"""
import json
import os
import pty
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

qt, root = sys.argv[1], sys.argv[2]
planted = os.path.join(root, "tests/suite/planted")
compiled = os.path.join(root, "tests/suite/compiled")
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAILED:", what)


def run(*args, **kw):
    return subprocess.run([qt, *args], capture_output=True, text=True, errors="replace", cwd=kw.pop("cwd", root), **kw)


# The project's examples pass.
examples_passed = "Passed:          %d" % len([f for f in os.listdir(os.path.join(root, "examples")) if f.endswith(".out")])
r = run("examples")
check(r.returncode == 0 and examples_passed in r.stdout, "examples: %d %s" % (r.returncode, r.stdout))

# Each planted test gets its verdict, in JSON lines that all parse.
want = {"good": "pass", "blanks": "pass", "fault": "pass", "limit": "pass", "wrong": "fail", "crlf": "fail",
        "misline": "fail", "crash": "fail", "odd": "fail", "noexp": "no-expectation"}
r = run("--json", "-j", "2", "tests/suite/planted")
check(r.returncode == 1, "planted: exit status %d" % r.returncode)
got = {}
for line in r.stdout.splitlines():
    j = json.loads(line)
    got[os.path.basename(j["name"])] = j["verdict"]
check(got == want, "planted verdicts: %s" % got)
check("only the line ends differ" in r.stderr and "the error is at line 9, expected line 4" in r.stderr,
      "planted: the reasons are told")

with tempfile.TemporaryDirectory() as tmp:
    # TAP, read by real consumers: Perl's prove (which knows TAP 13, so the
    # stream says 13, as it may: it uses nothing of 14) and node-tap's parser
    # (TAP 14), when tests/suite has it installed (npm ci there).
    tap = os.path.join(tmp, "planted.tap")
    def tap_of(version, path):
        with open(tap, "w") as f:
            subprocess.run([qt, "--tap-version", version, path], stdout=f, stderr=subprocess.DEVNULL, cwd=root)
    tap_of("13", "tests/suite/planted")
    p = subprocess.run(["prove", "--exec", "cat", tap], capture_output=True, text=True, errors="replace")
    check(p.returncode != 0 and "Failed 6/10 subtests" in p.stdout and "Parse errors" not in p.stdout,
          "prove on planted: %s" % p.stdout)
    tap_of("13", "examples")
    p = subprocess.run(["prove", "--exec", "cat", tap], capture_output=True, text=True)
    check(p.returncode == 0 and "Result: PASS" in p.stdout, "prove on the examples: %s" % p.stdout)
    parser = os.path.join(root, "tests/suite/node_modules/.bin/tap-parser")
    if os.path.exists(parser):
        tap_of("14", "tests/suite/planted")
        p = subprocess.run([parser, "-j"], stdin=open(tap), capture_output=True, text=True)
        done = [e[1] for e in json.loads(p.stdout) if e[0] == "complete"]
        check(done and done[0]["pass"] == 4 and done[0]["fail"] == 6 and not done[0]["bailout"] and
              all(f.get("tapError") is None for f in done[0]["failures"]), "tap-parser on planted: %s" % done)
    else:
        print("note: no tests/suite/node_modules: TAP 14 not read by tap-parser")

    # JUnit XML and Gradescope's file, whatever bytes the programs printed.
    xml, grade = os.path.join(tmp, "junit.xml"), os.path.join(tmp, "results.json")
    run("--junit", xml, "--gradescope", grade, "tests/suite/planted")
    if shutil.which("xmllint"):
        x = subprocess.run(["xmllint", "--noout", xml], capture_output=True, text=True)
        check(x.returncode == 0, "xmllint: %s" % x.stderr)
    suite = ET.parse(xml).getroot().find("testsuite")
    check(suite.get("tests") == "10" and suite.get("failures") == "6", "junit counts: %s" % suite.attrib)
    check(len(suite.findall("testcase/failure")) == 6, "junit: six failures")
    g = json.load(open(grade))
    check(g["score"] == 4 and g["max_score"] == 10, "gradescope score: %s of %s" % (g["score"], g["max_score"]))
    for t in g["tests"]:
        check(set(t) >= {"name", "score", "max_score", "status", "output", "visibility"} and
              t["status"] in ("passed", "failed"), "gradescope test fields: %s" % t)

    # A compiler: its failure is the test's, a compiler whose output changes
    # between runs makes a flaky test.
    env = dict(os.environ, QV_FLIP_STATE=os.path.join(tmp, "flip"))
    r = run("--json", "--repeat", "3", "--timeout", "2", "--compiler", "sh tests/suite/compiled/cc.sh {src} {out}",
            "--ext", ".src", "tests/suite/compiled", env=env)
    got = {os.path.basename(json.loads(l)["name"]): json.loads(l)["verdict"] for l in r.stdout.splitlines()}
    check(got == {"ok": "pass", "broken": "fail", "flip": "flaky", "hang": "fail", "two words": "pass"},
          "compiled verdicts: %s" % got)
    check("cc: tests/suite/compiled/broken.src:1: error: planted failure" in r.stderr, "the compiler's message")
    check("stopped at its wall-clock limit of 2 s" in r.stderr, "the hanging compiler is stopped")

    # --update writes the output and the status as the expectation; then
    # the tests pass.
    work = os.path.join(tmp, "bless")
    os.mkdir(work)
    for name in ("wrong.ic", "wrong.out", "crash.ic", "noexp.ic"):
        shutil.copy(os.path.join(planted, name), work)
    r = run("--update", work)
    check(r.returncode == 1 and "updated:" in r.stdout, "update: %s" % r.stdout)
    check(open(os.path.join(work, "crash.test")).read() == "status 2\nline 9\n", "update writes crash.test")
    r = run(work)
    check(r.returncode == 0, "after --update: %s" % r.stdout)

# On a terminal: a progress line kept up to date, failures only, in colour.
pid, fd = pty.fork()
if pid == 0:
    os.chdir(root)
    os.environ["TERM"] = "xterm"
    os.environ.pop("NO_COLOR", None)
    os.execv(qt, [qt, "tests/suite/planted"])
screen = b""
while True:
    try:
        chunk = os.read(fd, 65536)
    except OSError:
        break
    if not chunk:
        break
    screen += chunk
os.waitpid(pid, 0)
screen = screen.decode(errors="replace")
check("\r\x1b[K[10/10] 6 failed" in screen and "\x1b[1;31mFAIL\x1b[0m: tests/suite/planted/wrong" in screen and
      "\x1b[31m-41 " in screen and "PASS: tests/suite/planted/good" not in screen, "terminal: %r" % screen[-600:])

# --shard: the slices are disjoint and make the whole.
names = []
for k in (1, 2, 3):
    r = run("--json", "--shard", "%d/3" % k, "tests/suite/planted")
    names += [json.loads(l)["name"] for l in r.stdout.splitlines()]
check(sorted(names) == sorted(set(names)) and len(names) == 10, "shards: %s" % names)

# A missing path: said, the rest still runs, status 2.
r = run("examples", "no/such/folder")
check(r.returncode == 2 and "no/such/folder" in r.stderr and examples_passed in r.stdout,
      "missing path: %d %s" % (r.returncode, r.stderr))

# Ctrl-C: every SPIM stopped, the partial summary, status 130.
def groups_of(word, but):
    """The process groups of the processes whose command line holds `word`."""
    found = set()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if int(pid) != but and word in open("/proc/%s/cmdline" % pid).read():
                found.add(os.getpgid(int(pid)))
        except OSError:
            pass
    return found


def in_groups(groups):
    """The live processes of `groups` (a zombie is dead, waiting for init)."""
    alive = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            state = open("/proc/%s/stat" % pid).read().rsplit(")", 1)[1].split()[0]
            if os.getpgid(int(pid)) in groups and state != "Z":
                alive.append(pid)
        except OSError:
            pass
    return alive


with tempfile.TemporaryDirectory() as tmp:
    shutil.copy(os.path.join(planted, "limit.ic"), os.path.join(tmp, "spin.ic"))
    p = subprocess.Popen([qt, tmp], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(1.0)
    groups = groups_of(tmp, p.pid)  # each test's process leads a group, SPIM in it
    check(groups and in_groups(groups), "Ctrl-C: the test was not running")
    p.send_signal(signal.SIGINT)
    out, err = p.communicate(timeout=30)
    check(p.returncode == 130 and "Interrupted" in out and "Not run:" in out, "Ctrl-C: %d %s" % (p.returncode, out))
    for _ in range(50):  # a process sent SIGKILL is gone a moment later
        alive = in_groups(groups)
        if not alive:
            break
        time.sleep(0.05)
    check(not alive, "Ctrl-C: processes of the test survived: %s" % alive)

print("%d checks failed" % len(failures) if failures else "all checks passed")
sys.exit(1 if failures else 0)
