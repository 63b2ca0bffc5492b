#!/usr/bin/env bash
# Which operand forms SPIM 8.0 takes in each operand position of each opcode,
# as the translator writes its template for the line.
#
#   probe-operands.sh BUILD_DIR [OUT.md]
#
# For every (opcode, position, form) a small intermediate program is written
# with the form in that position and ordinary operands elsewhere; it is
# translated and loaded in SPIM with a trap file whose __start only exits.
# The verdict is "A" (clean load: the five banner lines, empty stderr) or
# SPIM's message.  Where a form loads in a position the template reads, the
# program is also run with the default trap file and its output compared
# with the same program written with an r register in that position (preset
# by "cst" to the same value): a difference means the template computes
# something else than the line says, or uses the register as scratch.
# Prints a markdown table (to OUT.md when given) and keeps the raw verdicts
# in BUILD_DIR/probe-operands.tsv.  Exit status: 0, or 2 on a setup error.
set -u
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 BUILD_DIR [OUT.md]" >&2
  exit 2
fi
qv=$1/quorvelin
[ -x "$qv" ] || { echo "$0: $qv not found (build first)" >&2; exit 2; }
command -v spim >/dev/null || { echo "$0: spim not found" >&2; exit 2; }
command -v python3 >/dev/null || { echo "$0: python3 not found" >&2; exit 2; }
exec python3 - "$qv" "$1/probe-operands.tsv" "${2:-}" <<'PY'
import concurrent.futures, os, re, subprocess, sys, tempfile

qv, tsv_path, out_path = sys.argv[1], sys.argv[2], sys.argv[3]
work = tempfile.mkdtemp(prefix="probe-ops.")
trap = os.path.join(work, "trap.s")
with open(trap, "w") as f:
    f.write("\t.text\n\t.globl __start\n__start:\tli $v0, 10\n\tsyscall\n")

IMM = ["0", "5", "-5", "40000", "0x7fffffff", "4294967295", "4294967296", "0x10", "'a'"]
GPR = ["$0", "$1", "$2", "$4", "$5", "$6", "$7", "$8", "$9", "$22", "$23", "$24", "$25",
       "$29", "$30", "$31", "$t0", "$v0", "$zero", "$sp"]
FPR = ["$f0", "$f6", "$f31", "fp6"]
FORMS = IMM + GPR + FPR
# registers that a run may preset and read back without wrecking the frame
RUNNABLE = {"$2", "$4", "$5", "$6", "$7", "$8", "$9", "$22", "$23", "$24", "$25", "$t0", "$v0"}
REF = "r10"  # $19: no default operand and no template uses it

# opcode: (operands as written, role of each).  Roles: src (read), rw (read
# and written), dst (written), addr (read as an address), num (a count or
# displacement), code (a procedure address), label (a reference), def (a
# definition), freg, flit,
# value (cst's first operand), text (dbg).
OPS = {
    "ntr": (["Sub", "0"], ["def", "num"]),
    "rtn": (["r5", "0"], ["src", "num"]),
    "cal": (["0", "r4"], ["num", "code"]),
    "var": (["0", "-16", "r2"], ["num", "num", "dst"]),
    "alc": (["r1", "r2"], ["src", "dst"]),
    "cls": (["C1", "C0"], ["def", "label"]),
    "mth": (["Sub"], ["label"]),
    "cst": (["5", "r2"], ["value", "dst"]),
    "cstf": (["2.5", "r2"], ["flit", "dst"]),
    "sto": (["r1", "r3"], ["src", "addr"]),
    "val": (["r3"], ["addr"]),
    "valf": (["r3", "fp2"], ["addr", "freg"]),
    "end": (["1", "C0", "Main"], ["num", "label", "label"]),
    "dbg": (["here"], ["text"]),
    "mov": (["r1", "r2"], ["src", "dst"]),
    "gstr": (["r2", "10"], ["dst", "num"]),
    "bra": (["Tgt"], ["label"]),
    "brf": (["r1", "Tgt"], ["src", "label"]),
    "pshf": (["fp2"], ["freg"]),
    "ndx": (["r1", "2", "3", "r2"], ["rw", "num", "num", "rw"]),
    "sel": (["2", "r2"], ["num", "rw"]),
    "str": (["S9"], ["def"]),
}
for op in ["add", "addf", "sub", "subf", "mul", "mulf", "div", "divf", "rem", "and", "or",
           "ltn", "ltnf", "leq", "leqf", "gtr", "gtrf", "geq", "geqf", "eql", "eqlf",
           "neq", "neqf"]:
    OPS[op] = (["r1", "r2"], ["src", "rw"])
for op in ["gint", "gflt", "gbln", "gchr"]:
    OPS[op] = (["r2"], ["dst"])
for op in ["pint", "pflt", "pbln", "pchr", "psh"]:
    OPS[op] = (["r1"], ["src"])
OPS["pstr"] = (["r3"], ["addr"])
OPS["tfl"] = (["r3"], ["addr"])
for op in ["neg", "negf", "not"]:
    OPS[op] = (["r2"], ["rw"])
INPUT = {"gint": "42\n", "gflt": "2.5\n", "gbln": "true\n", "gchr": "x\n", "gstr": "hello\n"}


def line_of(op, args):
    if op == "str":
        return 'str %s "hi"' % args[0]
    return op + " " + ", ".join(args)


def program(op, pos, form, preset=None, observe_self=True):
    """The test program; preset is (register, value) written by cst first."""
    args = list(OPS[op][0])
    args[pos] = form
    line = line_of(op, args)
    sub_name = form if (op, pos) == ("ntr", 0) else "Sub"
    cls_lines = ["cls C0, C0"]
    if op in ("cls", "mth"):
        cls_lines.append(line if op == "cls" else "cls C1, C0")
        if op == "mth":
            cls_lines.append(line)
    sub = ["ntr %s, %s" % (sub_name, args[1] if op == "ntr" else "0"),
           "\tcst 99, r5", "\tpint r5"]
    if op == "rtn":
        if preset:
            sub.append("\tcst %s, %s" % preset)
        sub.append("\t" + line)
    else:
        sub.append("\trtn r5, 0")
    r2 = {"and": "-1", "or": "0"}.get(op, "1000")  # so that r2 op X shows all of X
    body = ["ntr Main, 0", '\tstr Buf "abcdefgh"', "\tcst 3, r1", "\tcst %s, r2" % r2,
            "\tcst Buf, r3"]
    if sub_name == "Sub":
        body.append("\tcst Sub, r4")
    if op == "rtn":
        body += ["\tcal 0, r4", "\tpint rr"]
    elif op not in ("ntr", "cls", "mth", "end"):
        if preset:
            body.append("\tcst %s, %s" % preset)
        body.append("\t" + line)
    if op not in ("ntr", "cls", "mth", "end", "rtn"):
        if observe_self and OPS[op][1][pos] in ("src", "rw", "dst", "addr", "code") and form[0] in "$r":
            body.append("\tpint " + form)
        body += ["\tpint r1", "\tpint r2"]
    body += ["\tpln", "\trtn 1", "Tgt:\tpln", "\trtn 1"]
    end = line if op == "end" else "end 1, C0, Main"
    return "\n".join(cls_lines + sub + body + [end]) + "\n"


def translate(src, name):
    ic = os.path.join(work, name + ".ic")
    s = os.path.join(work, name + ".s")
    with open(ic, "w") as f:
        f.write(src)
    with open(s, "w") as out:
        p = subprocess.run([qv, ic], stdout=out, stderr=subprocess.PIPE, text=True)
    err = "\n".join(l for l in p.stderr.splitlines() if not l.startswith("floating reg is"))
    if p.returncode != 0 or err:
        return None, "translator: " + (err.splitlines() or ["status %d" % p.returncode])[0]
    return s, None


def spim(args, stdin_text):
    try:
        p = subprocess.run(["spim"] + args, input=stdin_text, capture_output=True,
                           text=True, errors="replace", timeout=10)
    except subprocess.TimeoutExpired:
        return None, None
    return "\n".join(p.stdout.split("\n")[5:]), p.stderr


def message(out, err):
    """SPIM's complaint, shortened: the first message and the line it names."""
    if out is None:
        return "HANG"
    if err:
        lines = err.splitlines()
        m = re.sub(r"^spim: \(parser\) ", "", lines[0])
        m = re.sub(r" on line \d+ of file .*", "", m)
        if len(lines) > 1 and lines[1].strip():
            src = lines[1].split("#")[0].strip().replace("\t", " ")
            m += ": `%s`" % re.sub(r" +", " ", src)
        if "syntax error" not in lines[0] and any("syntax error" in l for l in lines[1:]):
            m += " (then a syntax error: loading stops)"
        return m
    if out.strip():
        names = [l.strip() for l in out.splitlines()[1:] if l.strip()]
        return "undef " + " ".join(names) if out.startswith("The following") else "output"
    return "A"


def load(op, pos, form):
    s, terr = translate(program(op, pos, form), "l-%s-%d-%d" % (op, pos, FORMS.index(form)))
    if terr:
        return terr
    out, err = spim(["-exception_file", trap, "-file", s], "")
    return message(out, err)


def run(src, name, stdin_text):
    s, terr = translate(src, name)
    if terr:
        return terr
    out, err = spim(["-file", s], stdin_text)
    if out is None:
        return "HANG"
    err = " | ".join(l for l in err.splitlines() if l.strip())
    return " ".join(out.split()) + (" [stderr: %s]" % err[:80] if err else "")


def differ(op, pos, form):
    """Run with form, and with REF preset to the same value; None when equal."""
    role = OPS[op][1][pos]
    stdin_text = INPUT.get(op, "")
    is_reg = form.startswith("$")
    value = "Buf" if role == "addr" else "Sub" if role == "code" else "7" if is_reg else form
    name = "r-%s-%d-%d" % (op, pos, FORMS.index(form))
    a = run(program(op, pos, form, (value, form) if is_reg else None), name + "a", stdin_text)
    b = run(program(op, pos, REF, (value, REF), is_reg), name + "b", stdin_text)
    if a == b:
        return None
    return "`%s`: prints `%s`; with %s: `%s`" % (form, a[:60], REF, b[:60])


cases = [(op, pos, form) for op in OPS for pos in range(len(OPS[op][1])) for form in FORMS]
with concurrent.futures.ThreadPoolExecutor(4) as ex:
    verdicts = dict(zip(cases, ex.map(lambda c: load(*c), cases)))

runs = [c for c in cases if verdicts[c] == "A" and OPS[c[0]][1][c[1]] in ("src", "rw", "dst", "addr", "code")
        and (c[2] in RUNNABLE or (c[2] in IMM and c[0] != "rtn"))]
with concurrent.futures.ThreadPoolExecutor(4) as ex:
    diffs = dict(zip(runs, ex.map(lambda c: differ(*c), runs)))

with open(tsv_path, "w") as f:
    for c in cases:
        f.write("%s\t%d\t%s\t%s\t%s\n" % (c[0], c[1] + 1, c[2], verdicts[c], diffs.get(c) or ""))


# What the template does with a form, where a load or a run alone does not show it.
NOTES = {
    ("rtn", 0): "an immediate is the count of arguments to pop (`li $t9, X`): rr is not set and "
                "the second operand is ignored (`rtn 5, 0` pops 5 words)",
    ("cal", 1): "`jalr $N`; printed: Sub's 99, X after the call, r1, r2",
    ("end", 0): "`mul $t9, $t9, X` after `lw $t8, heap` and `li $t9, -4`",
    ("end", 2): "`jal $N` assembles as `jalr $N`; it runs after $t8 and $t9 are set",
    ("cls", 1): "`.word X`: the number, low 32 bits",
    ("mth", 0): "`.word X`: the number, low 32 bits",
    ("cst", 0): "`li`/`la`: low 32 bits; a form with a letter goes to `la` (`$t0`, `fp6`)",
    ("pshf", 0): "`mfc1 $t0, X`: `$N` and `$name` read float register N (`$t0` is $f8)",
    ("div", 0): "Divide by zero: loading goes on; the line changes nothing",
    ("rem", 0): "Divide by zero: loading goes on; the line changes nothing",
    ("dbg", 0): "only inside the `.asciiz` text",
}
PREFERRED = ["5", "$9", "$f6"]


def group(forms, key):
    """(accepted forms, {kind of message: (forms, example line)})."""
    acc, rej = [], {}
    for form in forms:
        v = verdicts[key + (form,)]
        if v == "A":
            acc.append(form)
            continue
        kind, _, example = v.partition(": ")
        fs, ex = rej.setdefault(kind, ([], example))
        fs.append(form)
        if form in PREFERRED:
            rej[kind] = (fs, example)
    return acc, rej


def cell(forms, key, all_word):
    acc, rej = group(forms, key)
    parts = []
    if acc == forms:
        parts.append(all_word)
    elif len(acc) > len(forms) // 2:
        parts.append("A but " + " ".join("`%s`" % f for f in forms if f not in acc))
    elif acc:
        parts.append(" ".join("`%s`" % f for f in acc))
    for kind, (fs, ex) in rej.items():
        who = "all" if fs == forms else " ".join("`%s`" % f for f in fs)
        parts.append("%s: %s%s" % (who, kind, (" " + ex) if ex else ""))
    return "; ".join(parts)


rows = ["| opcode | pos | immediates | `$` general registers | `$f` registers, fp6 | remarks |",
        "|---|---|---|---|---|---|"]
for op in OPS:
    for pos, role in enumerate(OPS[op][1]):
        key = (op, pos)
        notes = [NOTES[key]] if key in NOTES else []
        notes += [diffs[c] for c in runs if c[:2] == key and diffs.get(c)]
        ran = [c for c in runs if c[:2] == key]
        if ran and len(notes) == (key in NOTES):
            notes.append("runs as the r-register form")
        rows.append("| %s | %d | %s | %s | %s | %s |" % (
            op, pos + 1, cell(IMM, key, "all A"), cell(GPR, key, "all A"), cell(FPR, key, "all A"),
            "<br>".join(n.replace("|", "\\|") for n in notes)))

text = "\n".join(rows) + "\n"
if out_path:
    with open(out_path, "w") as f:
        f.write(text)
else:
    sys.stdout.write(text)
subprocess.run(["rm", "-rf", work])
PY
