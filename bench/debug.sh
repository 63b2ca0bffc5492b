#!/usr/bin/env bash
# quorvelin-debug's speed against its goals, each printed with its target:
#   (a) run to a breakpoint ~1,000,000 MIPS instructions in, against
#       `spim -file` running the same instructions (within 1.2x);
#   (b) next over a call that runs ~1,000,000 instructions (the same bound);
#   (c) step, next and print on a stopped program (under 50 ms each);
#   (d) start-up to the first prompt on examples/*.ic (under 0.3 s);
#   (e) quorvelin-run --trace, lines a second (at least 10,000);
#   (f) reverse-step and reverse-next at a breakpoint ~10,000,000
#       instructions into the run (under 0.5 s).
# The debugger is driven through a pseudo-terminal, as a person uses it: a
# command's time runs from its Enter to the next "(qvdb) " on the screen.
#
#   bash bench/debug.sh [BUILD_DIR] [--runs N]     (default build-pty, 5 runs)
#
# BUILD_DIR is built (release) when it lacks the commands.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-pty
runs=5
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    *) build=$1; shift ;;
  esac
done
if [ ! -x "$build/quorvelin-debug" ] || [ ! -x "$build/quorvelin-run" ] || [ ! -x "$build/quorvelin" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release > /dev/null
  cmake --build "$build" -j2 --target quorvelin-debug quorvelin-run quorvelin quorvelin-check > /dev/null
fi
command -v spim > /dev/null || { echo "spim is not installed" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# ~9 MIPS instructions an iteration (nop, sub, move, bgt = slt + bne, li,
# nop, beqz, b): 111,111 iterations are about 1,000,000 instructions.
gen() {  # gen ITERATIONS: Work loops, Main calls it once; Done follows the call.
  cat <<EOF
// Counts r0 down from $1 in Work: about 9 MIPS instructions a turn.
cls C, C
ntr Work, 0
	cst $1, r0
	cst 1, r1
	cst 0, r2
Loop:	sub r1, r0
	mov r0, r3
	gtr r2, r3
	brf r3, Out
	bra Loop
Out:	rtn 0
ntr Main, 0
	cst Work, r4
	cal -1, r4
Done:	pln
	rtn 1
end 1, C, Main
EOF
}
gen 111111 > "$tmp/million.ic"
gen 0 > "$tmp/none.ic"
gen 2000 > "$tmp/trace.ic"
gen 1111111 > "$tmp/ten.ic"
for p in million none trace ten; do
  "$build/quorvelin-check" "$tmp/$p.ic"
  "$build/quorvelin" "$tmp/$p.ic" > "$tmp/$p.s"
done

exec python3 - "$build" "$tmp" "$runs" examples/*.ic <<'PY'
import os, re, select, statistics, subprocess, sys, time

build, tmp, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
examples = sys.argv[4:]
debug = os.path.abspath(os.path.join(build, "quorvelin-debug"))
runner = os.path.abspath(os.path.join(build, "quorvelin-run"))
sys.path.insert(0, "bench")
import qvdb


def Session(args):
    return qvdb.Session([debug] + args, cwd=tmp)


def spim_file(prog):
    t = time.perf_counter()
    subprocess.run(["spim", "-file", os.path.join(tmp, prog + ".s")], stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return time.perf_counter() - t


def verdict(ok):
    return "PASS" if ok else "FAIL"


def med(xs):
    return statistics.median(xs)


print(f"quorvelin-debug speed ({build}, medians of {runs} runs; SPIM from the PATH)")

# (a) run to a breakpoint after ~1M instructions; (b) next over the call.
t_spim, t_spim0, t_run, t_next = [], [], [], []
for _ in range(runs):
    t_spim.append(spim_file("million"))
    t_spim0.append(spim_file("none"))
    s = Session(["million.ic"])
    s.cmd("break Done")
    dt, seen = s.cmd("run")
    if "Breakpoint 1" not in seen:
        sys.exit("run did not stop at Done:\n" + seen)
    t_run.append(dt)
    s.close()
    s = Session(["million.ic"])
    s.cmd("break 15")  # the call of Work
    s.cmd("run")
    dt, seen = s.cmd("next")
    if not re.search(r"16\s+Done:", seen.replace("\r", "")):
        sys.exit("next did not pass the call:\n" + seen)
    t_next.append(dt)
    s.close()
spim, spim0 = med(t_spim), med(t_spim0)
work = spim - spim0
print(f"spim -file, ~1M instructions: {spim * 1e3:.0f} ms ({spim0 * 1e3:.0f} ms of it start-up and exit, "
      f"measured on the same program with no iterations)")
for name, xs in (("(a) run to a breakpoint after ~1M instructions", t_run),
                 ("(b) next over a call of ~1M instructions", t_next)):
    m = med(xs)
    r = m / spim
    print(f"{name}: {m * 1e3:.0f} ms = {r:.2f}x spim -file (goal <= 1.20x: {verdict(r <= 1.2)}); "
          f"{m / work:.2f}x spim's time for the instructions alone")

# (c) latency of step, next and print at a stop.
lat = {"step": [], "next": [], "print r0": []}
s = Session(["million.ic"])
s.cmd("break Loop")
s.cmd("run")
for _ in range(max(20, runs)):
    for c in lat:
        lat[c].append(s.cmd(c)[0])
s.close()
for c, xs in lat.items():
    m, hi = med(xs), max(xs)
    print(f"(c) {c}: median {m * 1e3:.1f} ms, max {hi * 1e3:.1f} ms (goal < 50 ms: {verdict(hi < 0.05)})")

# (d) start-up to the first prompt.
for ex in examples:
    xs = []
    for _ in range(max(runs, 5)):
        s = Session([os.path.abspath(ex)])
        xs.append(s.startup)
        s.close()
    m, hi = med(xs), max(xs)
    print(f"(d) start-up, {os.path.basename(ex)}: median {m * 1e3:.0f} ms, max {hi * 1e3:.0f} ms "
          f"(goal < 300 ms: {verdict(hi < 0.3)})")

# (e) --trace lines a second.
xs, lines = [], 0
for _ in range(runs):
    t = time.perf_counter()
    p = subprocess.run([runner, "--trace", "--trace-limit", "100000", os.path.join(tmp, "trace.ic")],
                       stdin=subprocess.DEVNULL, capture_output=True, check=True)
    xs.append(time.perf_counter() - t)
    lines = p.stderr.count(b"\n")
m = med(xs)
print(f"(e) quorvelin-run --trace: {lines} lines in {m:.2f} s = {lines / m:.0f} lines/s "
      f"(goal >= 10000: {verdict(lines / m >= 10000)})")

# (f) going back 10M instructions into the run: rs to Work's last line, rn
# over the whole call to the line that made it.
back = {"reverse-step": [], "reverse-next": []}
for _ in range(runs):
    s = Session(["ten.ic"])
    s.cmd("break Done")
    s.cmd("run")
    for c in back:
        dt, seen = s.cmd(c)
        back[c].append(dt)
        s.cmd("next")
    s.close()
for c, xs in back.items():
    m = med(xs)
    print(f"(f) {c} ~10M instructions into the run: median {m:.2f} s (goal <= 0.5 s: {verdict(m <= 0.5)})")
PY
