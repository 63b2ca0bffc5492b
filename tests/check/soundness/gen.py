#!/usr/bin/env python3
"""Random intermediate programs for the checker's soundness test.

    gen.py SEED                     one program on standard output
    gen.py --batch DIR FIRST COUNT  DIR/seed-N.ic for N = FIRST .. FIRST+COUNT-1

Each program has the shape a compiler gives it: class tables (cls, mth), then
procedures (ntr ... rtn) with labels, branches, calls with their pushes,
string literals and every other opcode, and a final "end 1, C0, Main".  Most
programs are left as they are or get one defect; a few get two or three.  A
defect is one of the mistakes quorvelin-check knows (see DEFECTS below), in
one of its shapes.  The first line is a comment naming the seed and the
defects, so a failing program tells what was done to it.

    gen.py --bytes ...              the same, each program with one to four
                                    bytes outside printable ASCII planted
                                    (bytes_run.py compares where the checker and
                                    the translator put them)

The same seed always gives the same bytes (standard library only; Python's
random.Random is stable for a given seed across versions).
"""
import os
import random
import sys

# Operand kinds of each opcode, as the translator's opcode table has them
# (a trailing ? marks an optional operand).
SIG = {
    "ntr": "def num", "rtn": "ret num?", "cal": "dist callee", "var": "delta num reg",
    "alc": "reg reg", "cls": "def label", "mth": "label", "cst": "value reg",
    "cstf": "flit reg", "sto": "reg reg", "val": "reg", "valf": "reg freg",
    "add": "reg reg", "addf": "reg reg", "sub": "reg reg", "subf": "reg reg",
    "mul": "reg reg", "mulf": "reg reg", "div": "reg reg", "divf": "reg reg",
    "rem": "reg reg", "end": "words label label", "dbg": "word?", "mov": "reg reg",
    "gint": "reg", "pint": "reg", "pflt": "reg", "gflt": "reg", "pbln": "reg",
    "gbln": "reg", "gchr": "reg", "pchr": "reg", "pln": "", "pstr": "reg",
    "gstr": "reg num?", "tfl": "reg", "neg": "reg", "negf": "reg", "and": "reg reg",
    "or": "reg reg", "not": "reg", "ltn": "reg reg", "ltnf": "reg reg",
    "leq": "reg reg", "leqf": "reg reg", "gtr": "reg reg", "gtrf": "reg reg",
    "geq": "reg reg", "geqf": "reg reg", "eql": "reg reg", "eqlf": "reg reg",
    "neq": "reg reg", "neqf": "reg reg", "bra": "label", "brf": "reg label",
    "psh": "reg", "pshf": "freg", "ndx": "reg num num reg", "sel": "num reg",
    "str": "def",
}
assert len(SIG) == 60

INT_OPS = ["add", "sub", "mul", "div", "rem", "and", "or"]
FLT_OPS = ["addf", "subf", "mulf", "divf"]
INT_REL = ["ltn", "leq", "gtr", "geq", "eql", "neq"]
FLT_REL = ["ltnf", "leqf", "gtrf", "geqf", "eqlf", "neqf"]

# Labels SPIM or the generated frame already has, or that SPIM reads as its own
# words (with and without a leading dot).
RESERVED = ["main", "heap", "true", "false", "add", "b", "j", "blk", "str2", "new_line",
            "ENDIT", "ENDIT1", "_var_", "_var_1", "lblow", "badipbl", "_ML3", "_ML0",
            "_ML12", "__start", "__eoth", "nop", "li", "la", "move", "sw", "jal", "syscall",
            "beqz", "mul", "l.s", "c.lt.s", "eret", ".text", ".data", ".word", ".globl",
            ".asciiz", ".align", ".space", ".byte", ".end", ".ascii", ".kdata", ".ktext",
            ".set", ".extern", ".float", ".half", ".double", ".rdata", ".sdata"]

FLITS_OK = ["2.5", "-2.5", "3.", "3.0", "1.5e3", "1.5e-3", "-1.5e+3", "0.0", "100.25",
            "0.001", "-0.5", "12.75", "1.0e2", "7.125"]
FLITS_ODD = ["3.e5", "1.5e39", "1.5e-50", "123456789012345678901234.5", "00.5", "1.5e03",
             "-0.0", "1.e0", "9.e-9"]
FLITS_BAD = ["3", ".5", "1e3", "1.5E3", "-3", "0", "0x10", "1e39", "2,5", "2.5f", "+2.5",
             "1.5e", "1.5e+", "abc", "-.5", "2..5", "1.5e3.0", "r1", "inf", "nan"]
CST_BAD = ["3.5", "_1", "+5", "1e3", "0X10", "5+3", "X+4", "'ab'", "'\\n'", "''", "1.5",
           "0x", "0xG", "- 5", "$10", "$t0", "-", "--1", "1-", "#1", "'\\'", "0b101",
           "L1-4", "9abc", "@x", "x@y", "a-b"]
CHAR_LITS = ["'a'", "'Z'", "'0'", "'#'", "';'", "'!'", "'('", "'x'", "'%'", "'$'", "'.'",
             "'_'", "'{'", "'~'", "'*'", "'='"]
BAD_REGS = ["r14", "r15", "r16", "r17", "r18", "r19", "r20", "r21", "r22", "r23", "r24",
            "r25", "r26", "r27", "r28", "r29", "r30", "r31", "r99", "r100", "ret", "rx",
            "r5x", "rr5", "r-9", "r-10", "r+5", "r-1", "R14", "Rr", "rR", "$5", "$t0", "$v0",
            "$f2", "r1000", "r", "R", "r05x", "rra", "fp2", "r00"]
FREGS_BAD = ["fp32", "fp33", "fp99", "fp-1", "fp", "fpx", "fp2x", "FP2", "Fp3", "fp100",
             "fp1000", "f2", "$f2"]
NEAR_MISS = ["Add", "ADD", "ad", "addd", "adf", "mvo", "pnt", "pnit", "rtnn", "Rtn", "nt",
             "ntrr", "cll", "call", "ret", "push", "jmp", "nop", "halt", "cst.", "cst1",
             "st", "sotr", "br", "brt", "bf", "neqq", "pshh", "Psh", "PLN", "pl", "end1",
             "ends", "Cls", "mtd", "strr", "dbgg", "tflf", "ndxx", "sell", "alloc", "foo",
             "x", "a", "_", ".", "#", "pln.", "add:x", "1add", "cstF", "gBln"]
WORDS = ["loop", "count", "the", "sum", "add", "r1", "pointer", "x", "value", "of", "cal",
         "i", "to", "n", "Main", "L12", "str", "end", "result", "rtn", "here", "j", "b"]
LIT_CHARS = ("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
             "     .,;!?-+*=()[]{}<>#%&|~^'_@$`")
LIT_ESC = ["\\n", "\\t", "\\\"", "\\\\n", "\\r", "\\x41", "\\a", "\\'", "\\q", "\\\\t"]
# Bytes outside printable ASCII: single bytes and UTF-8 sequences (é, €, 日,
# an emoji, a no-break space, a byte-order mark), and control bytes but the
# tab and the line break.
HIGH_BYTES = ["\x80", "\x88", "\xc0", "\xc3\xa9", "\xe9", "\xff", "\xe2\x82\xac", "\xd9", "\x9a",
              "\xe6\x97\xa5", "\xf0\x9f\x98\x80", "\xc2\xa0", "\xef\xbb\xbf"]
CONTROL_BYTES = ["\x00", "\x01", "\x02", "\x07", "\x08", "\x0b", "\x0c", "\x0d", "\x1a", "\x1b",
                 "\x1f", "\x7f"]
# Every place in a line where such a byte can stand.
BYTE_PLACES = ["label", "label-colon", "after-label", "indent", "opcode", "opcode-sep", "operand",
               "between", "before-literal", "literal", "after-literal", "before-comment", "comment",
               "line-end", "cut", "comment-line", "first-line", "last-line"]


class Ln:
    """One line of the program, kept in parts until it is written out."""

    def __init__(self, op=None, args=None, lbl=None, lit=None, comment=None, raw=None,
                 proc=None, indent="\t"):
        self.op = op
        self.args = list(args or [])
        self.lbl = lbl
        self.lit = lit
        self.comment = comment
        self.raw = raw
        self.proc = proc
        self.indent = indent
        self.lbl_sep = "\t"
        self.lbl_pre = ""
        self.lbl_colon = ":"
        self.seps = None       # separators between operands
        self.first_sep = " "   # between opcode and first operand
        self.lit_sep = " "
        self.comment_sep = "\t"
        self.tail = ""         # after the literal (or the operands), before the comment
        self.callee = None     # cal: the procedure called, when known
        self.pushes = []       # cal: its push lines
        self.tags = set()

    def text(self):
        if self.raw is not None:
            return self.raw
        s = ""
        if self.lbl is not None:
            s += self.lbl_pre + self.lbl + self.lbl_colon
            if self.op:
                s += self.lbl_sep
        elif self.op:
            s += self.indent
        if self.op:
            s += self.op
            if self.args:
                s += self.first_sep
                seps = self.seps or [", "] * (len(self.args) - 1)
                for i, a in enumerate(self.args):
                    s += a
                    if i + 1 < len(self.args):
                        s += seps[i] if i < len(seps) else ", "
        if self.lit is not None:
            s += self.lit_sep + '"' + self.lit + '"'
        s += self.tail
        if self.comment is not None:
            s += (self.comment_sep if s else "") + "//" + self.comment
        return s


class Gen:
    def __init__(self, seed):
        self.seed = seed
        self.r = random.Random(seed)
        self.names = set()
        self.lines = []
        self.defects = []
        self.procs = []        # (name, nargs)
        self.strings = []      # str labels
        self.classes = []
        self.branch_labels = []
        self.crlf = False
        self.final_newline = True
        self.first_prefix = ""  # before the first line's code (a byte-order mark)
        self.first_code = ""    # code on the first line, before the seed's comment
        self.bytes_mode = False

    # ---- names and operands -------------------------------------------------
    def fresh(self, style=None):
        r = self.r
        while True:
            k = r.randrange(1000)
            st = style or r.choice(["Loop", "Done", "Next", "X", "a_b", "_t", "dot", "lbl",
                                    "Else", "Top", "reg", "Out", "q"])
            if st == "reg":
                # Names a register could look like to the translator: the
                # labels themselves are fine in SPIM.
                n = r.choice(["run", "ret", "rate", "rx", "Rab", "ru", "rope", "fpx", "rq",
                              "rz%d" % (k % 10), "fpa", "r9x", "rows", "Rv"])
            elif st == "dot":
                n = r.choice([".L%d", "x.%d", "a.b%d", "_.%d", "..%d"]) % k
            else:
                n = "%s%d" % (st, k)
            if n not in self.names:
                self.names.add(n)
                return n

    def reg(self, rr=True):
        x = self.r.random()
        if rr and x < 0.06:
            return "rr"
        if x < 0.08:
            return "R%d" % self.r.randrange(14)
        if x < 0.09:
            return "r0%d" % self.r.randrange(10)
        return "r%d" % self.r.randrange(14)

    def freg(self):
        return "fp%d" % self.r.randrange(32)

    def num(self, small=False, cst=False):
        r = self.r
        x = r.random()
        if x < 0.6 or small:
            return str(r.randrange(0, 20))
        if x < 0.75:
            return str(-r.randrange(1, 100))
        if x < 0.83:
            return r.choice(["0x1F", "0x10", "-0x10", "0xff", "0x0", "0xFFFFFFFF"])
        if x < 0.92:
            # cst loads a value without a letter with li, which takes any of
            # these; the checker takes only those with a letter
            return r.choice(["'a'", "'Z'", "'x'"] if cst else CHAR_LITS)
        return r.choice(["4294967295", "2147483648", "010", "0777", "-2147483648", "0", "-0"])

    def flit(self):
        if self.r.random() < 0.1:
            return self.r.choice(FLITS_ODD)
        return self.r.choice(FLITS_OK)

    def literal(self):
        r = self.r
        n = r.randrange(0, 24)
        s = ""
        for _ in range(n):
            if r.random() < 0.12:
                s += r.choice(LIT_ESC)
            else:
                s += r.choice(LIT_CHARS)
        # A "/" must not be followed by another, and a literal must not end in a
        # backslash.
        while "//" in s:
            s = s.replace("//", "/x")
        if s.endswith("\\"):
            s += "z"
        return s

    def comment(self):
        r = self.r
        n = r.randrange(0, 6)
        return " " + " ".join(r.choice(WORDS) for _ in range(n))

    # ---- building the valid program -----------------------------------------
    def add(self, ln, proc=None):
        ln.proc = proc
        r = self.r
        # Variation in the ways a compiler might lay out its lines.
        if ln.op and ln.args and r.random() < 0.25:
            ln.seps = [r.choice([", ", ",", " ", "\t", " ,", ",\t", ", \t"]) for _ in ln.args]
            ln.first_sep = r.choice([" ", "\t", "  ", " \t"])
        if ln.op and r.random() < 0.1:
            ln.indent = r.choice(["", " ", "\t\t", "  \t"])
        if ln.op and ln.comment is None and r.random() < 0.12:
            ln.comment = self.comment()
            ln.comment_sep = r.choice(["\t", " ", "\t\t", ""])
        self.lines.append(ln)
        return ln

    def body(self, proc, nargs):
        r = self.r
        pending = []  # labels to define further on
        n = r.randrange(3, 22)
        for _ in range(n):
            k = r.random()
            if pending and r.random() < 0.25:
                self.place_label(pending.pop(r.randrange(len(pending))), proc)
            snippet = next((f for limit, f in ((0.14, self.snippet_arith), (0.22, self.snippet_compare),
                                                (0.32, self.snippet_call), (0.40, self.snippet_string),
                                                (0.48, self.snippet_io), (0.55, self.snippet_memory),
                                                (0.62, self.snippet_float)) if k < limit), None)
            if snippet:
                snippet(proc)
            elif k < 0.70:
                # a branch forward, or a loop back
                lab = self.fresh()
                self.branch_labels.append(lab)
                if r.random() < 0.5:
                    self.add(Ln("brf", [self.reg(), lab]), proc)
                    pending.append(lab)
                else:
                    self.place_label(lab, proc)
                    self.snippet_arith(proc)
                    c = self.reg()
                    self.add(Ln(r.choice(INT_REL), [self.reg(), c]), proc)
                    self.add(Ln("brf", [c, lab]), proc)
            elif k < 0.74:
                lab = self.fresh()
                self.branch_labels.append(lab)
                self.add(Ln("bra", [lab]), proc)
                pending.append(lab)
            elif k < 0.78:
                self.add(Ln("dbg", [self.dbg_word()] if r.random() < 0.8 else []), proc)
            elif k < 0.82:
                self.snippet_method_call(proc)
            elif k < 0.85:
                self.add(Ln(raw=r.choice(["", "//", "// " + self.comment(), "\t// note:" + self.comment(),
                                            "   ", "\t"])), proc)
            elif k < 0.88:
                self.add(Ln("pln"), proc)
            elif k < 0.91:
                a = self.reg(rr=False)
                self.add(Ln("var", [r.choice(["0", "1", "0", "2"]), self.num(), a]), proc)
                self.add(Ln("val", [a]), proc)
            else:
                self.snippet_arith(proc)
        for lab in pending:
            self.place_label(lab, proc)
        if r.random() < 0.5:
            ret = [self.reg(), str(nargs)]
        else:
            ret = [str(nargs)]
        self.add(Ln("rtn", ret), proc)

    def dbg_word(self):
        r = self.r
        return r.choice(["here", "loop", "P1", "x.y", "a#b", "100%", "a;b", "x\\n", "a\\tb",
                         "x\\\\", "end", "'q'", "(1)", "$x", "{", "1.5"])

    def place_label(self, lab, proc):
        r = self.r
        if r.random() < 0.5:
            ln = self.add(Ln(lbl=lab), proc)
        else:
            ln = self.add(Ln("mov", [self.reg(), self.reg()], lbl=lab), proc)
            ln.lbl_sep = r.choice(["\t", " ", "", "  "])
        if r.random() < 0.1:
            ln.lbl_pre = r.choice([" ", "\t", "  "])
        return ln

    def snippet_arith(self, proc):
        r = self.r
        a, b = self.reg(), self.reg()
        if r.random() < 0.4:
            self.add(Ln("cst", [self.num(cst=True), a]), proc)
        op = r.choice(INT_OPS + ["mov", "neg", "not", "mov"])
        if op in ("neg", "not"):
            self.add(Ln(op, [a]), proc)
        else:
            self.add(Ln(op, [a, b]), proc)

    def snippet_compare(self, proc):
        r = self.r
        if r.random() < 0.7:
            self.add(Ln(r.choice(INT_REL), [self.reg(), self.reg()]), proc)
        else:
            self.add(Ln(r.choice(FLT_REL), [self.reg(), self.reg()]), proc)

    def snippet_float(self, proc):
        r = self.r
        a, b = self.reg(), self.reg()
        self.add(Ln("cstf", [self.flit(), a]), proc)
        x = r.random()
        if x < 0.4:
            self.add(Ln(r.choice(FLT_OPS), [a, b]), proc)
        elif x < 0.6:
            self.add(Ln("negf", [a]), proc)
        elif x < 0.8:
            self.add(Ln("valf", [self.reg(), self.freg()]), proc)
        else:
            self.add(Ln("gflt", [a]), proc)
        if r.random() < 0.5:
            self.add(Ln("pflt", [b]), proc)

    def snippet_string(self, proc):
        r = self.r
        # cst writes "li" for a name without a letter, which SPIM rejects; and
        # the checker takes a name like fpx for a float register
        s = self.fresh(r.choice(["S", "Msg", "reg", "dot", "S"]))
        while not any(c.isalpha() for c in s) or s.lower().startswith("fp"):
            s = self.fresh(r.choice(["S", "Msg", "reg", "dot"]))
        self.strings.append(s)
        ln = self.add(Ln("str", [s], lit=self.literal()), proc)
        ln.lit_sep = r.choice([" ", "\t", "  ", ", "])
        a = self.reg()
        self.add(Ln("cst", [s, a]), proc)
        self.add(Ln("pstr", [a]), proc)

    def snippet_io(self, proc):
        r = self.r
        op = r.choice(["gint", "pint", "pbln", "gbln", "gchr", "pchr", "gstr", "tfl", "pint",
                       "pstr"])
        if op == "gbln":
            self.add(Ln(op, [self.reg(rr=False)]), proc)
        elif op == "gstr":
            args = [self.reg()]
            if r.random() < 0.6:
                args.append(r.choice(["10", "50", "100", "150", "2", "0x10", "99999", "-5", "'a'"]))
            self.add(Ln(op, args), proc)
        else:
            self.add(Ln(op, [self.reg()]), proc)

    def snippet_memory(self, proc):
        r = self.r
        a, b, c = self.reg(False), self.reg(False), self.reg(False)
        x = r.random()
        if x < 0.3:
            self.add(Ln("cst", [str(r.randrange(1, 40)), a]), proc)
            self.add(Ln("alc", [a, b]), proc)
            self.add(Ln("sto", [c, b]), proc)
        elif x < 0.55:
            self.add(Ln("ndx", [a, self.num(small=True), str(r.randrange(1, 4)), b]), proc)
            self.add(Ln("val", [b]), proc)
        elif x < 0.8:
            self.add(Ln("sel", [self.num(), a]), proc)
            self.add(Ln("sto", [b, a]), proc)
        else:
            self.add(Ln("var", ["0", self.num(), a]), proc)
            self.add(Ln("val", [a]), proc)

    def snippet_call(self, proc):
        r = self.r
        if not self.procs:
            return
        name, nargs = r.choice(self.procs)
        pushes = []
        via_reg = r.random() < 0.6
        rk = self.reg(rr=False)
        if via_reg and r.random() < 0.5:
            self.add(Ln("cst", [name, rk]), proc)
        for _ in range(nargs):
            if r.random() < 0.2:
                pushes.append(self.add(Ln("pshf", [self.freg()]), proc))
            else:
                pushes.append(self.add(Ln("psh", [self.reg()]), proc))
        if via_reg and not any(l.op == "cst" and l.args[0] == name for l in self.lines[-1 - nargs:]):
            self.add(Ln("cst", [name, rk]), proc)
        dist = r.choice(["-1", "-1", "0", "1"])
        ln = self.add(Ln("cal", [dist, rk if via_reg else name]), proc)
        ln.callee = name
        ln.pushes = pushes
        if r.random() < 0.5:
            if r.random() < 0.5:
                self.add(Ln("pint", ["rr"]), proc)
            else:
                self.add(Ln("mov", ["rr", self.reg(False)]), proc)

    def snippet_method_call(self, proc):
        # this.method(k), through the class table
        r = self.r
        a, b = self.reg(False), self.reg(False)
        self.add(Ln("var", ["0", "-16", a]), proc)
        self.add(Ln("val", [a]), proc)
        self.add(Ln("mov", [a, b]), proc)
        self.add(Ln("val", [b]), proc)
        self.add(Ln("sel", [str(r.randrange(1, 3)), b]), proc)
        self.add(Ln("val", [b]), proc)
        self.add(Ln("psh", [a]), proc)
        ln = self.add(Ln("cal", ["-1", b]), proc)
        ln.pushes = [self.lines[-2]]

    def build(self):
        r = self.r
        self.crlf = r.random() < 0.04
        self.final_newline = r.random() < 0.95
        # procedures: names and argument counts first, so calls can go both ways
        self.names.update(["C0", "Main"])
        nproc = r.randrange(0, 5)
        methods = []
        for i in range(nproc):
            nm = self.fresh(r.choice(["P", "Proc", "Fact", "do_", "Meth"]))
            self.procs.append((nm, r.randrange(0, 4)))
        for i in range(r.randrange(1, 3)):
            m = self.fresh("M")
            methods.append(m)
            self.procs.append((m, 1))
        self.names.add("Main")
        # class tables
        ncls = r.randrange(1, 4)
        cls_names = ["C0"] + [self.fresh("C") for _ in range(ncls - 1)]
        self.names.add("C0")
        self.classes = cls_names
        for i, c in enumerate(cls_names):
            sup = cls_names[r.randrange(0, i + 1)]
            self.add(Ln("cls", [c, sup], indent=""))
            for m in r.sample(methods, r.randrange(0, len(methods) + 1)):
                self.add(Ln("mth", [m], indent=""))
        # what closes the table: a comment, a blank line, or the first ntr
        x = r.random()
        if x < 0.5:
            self.lines.append(Ln(raw="//"))
        elif x < 0.7:
            self.lines.append(Ln(raw=""))
        order = list(self.procs)
        r.shuffle(order)
        for name, nargs in order:
            if r.random() < 0.3:
                self.lines.append(Ln(raw="// " + name + self.comment()))
            self.add(Ln("ntr", [name, str(r.randrange(0, 4))], indent=""), name)
            self.body(name, nargs)
        self.add(Ln("ntr", ["Main", str(r.randrange(0, 4))], indent=""), "Main")
        self.body("Main", 1)
        self.add(Ln("end", ["1", "C0", "Main"], indent=""))
        if r.random() < 0.05:
            self.lines.append(Ln(raw="// after the end"))

    # ---- defects --------------------------------------------------------------
    def code_lines(self, pred=lambda l: True):
        return [l for l in self.lines if l.raw is None and l.op and l.proc is not None and pred(l)]

    def pick(self, pred=lambda l: True):
        c = self.code_lines(pred)
        return self.r.choice(c) if c else None

    def insert(self, ln, proc_only=True):
        """Puts ln at a random place inside a procedure body."""
        idx = [i for i, l in enumerate(self.lines)
               if i > 0 and l.proc is not None and self.lines[i - 1].proc is not None
               and (self.lines[i - 1].op != "ntr" or True)]
        i = self.r.choice(idx) if idx else len(self.lines) - 1
        ln.proc = self.lines[i].proc if idx else None
        self.lines.insert(i, ln)
        return ln

    def reg_positions(self, l):
        if l.op not in SIG:
            return []
        kinds = SIG[l.op].replace("?", "").split()
        return [i for i, k in enumerate(kinds) if i < len(l.args) and k == "reg"]

    def d_unknown_opcode(self):
        r = self.r
        miss = r.choice(NEAR_MISS)
        if r.random() < 0.6:
            l = self.pick()
            if l is None:
                return False
            l.op = miss
        else:
            self.insert(Ln(miss, [self.reg()] if r.random() < 0.5 else []))
        return True

    def d_long_line(self):
        r = self.r
        v = r.randrange(9)
        pad = lambda n: "".join(r.choice("abcdefgh ") for _ in range(n))
        if v == 0:
            # a long comment: only the comment is cut
            l = self.pick()
            l.comment = " " + pad(r.randrange(100, 160))
        elif v == 1:
            # a long comment whose rest is an instruction or a label
            l = self.pick()
            text = l.text()
            fill = max(0, 99 - len(text) - 3)
            l.comment = " " + pad(fill) + r.choice(["add r1, r2", "X9: ", "pln", " L3 j", "mth M",
                                                     "zzz", " , pint r0", "  ", "cst 5, r1", ":"])
        elif v == 2:
            # a long label name
            lab = "Long" + "x" * r.randrange(95, 130)
            self.insert(Ln(lbl=lab))
        elif v == 3:
            # a long literal
            s = self.fresh("S")
            self.insert(Ln("str", [s], lit=pad(r.randrange(90, 140)).replace(" ", "_")))
        elif v == 4:
            # blanks between operands, so that the cut falls in or between them
            l = self.pick(lambda l: len(l.args) >= 2)
            if l is None:
                return False
            l.seps = [" " * r.randrange(80, 100)] * (len(l.args) - 1)
        elif v == 5:
            # exactly around 99 characters
            l = self.pick(lambda l: l.args)
            if l is None:
                return False
            l.comment = None
            base = len(l.text())
            want = r.choice([98, 99, 100, 101])
            l.indent = " " * max(0, want - base) + l.indent
        elif v == 6:
            # a comment-only line longer than a piece, with words in its rest
            self.insert(Ln(raw="//" + pad(97) + r.choice(["add r1", "X:", "x", " pln", "L1", "zz:"])))
        elif v == 7:
            # a long dbg word
            self.insert(Ln("dbg", ["w" * r.randrange(95, 120)]))
        else:
            # a cut inside a literal with a comment after it
            s = self.fresh("S")
            self.insert(Ln("str", [s], lit="y" * r.randrange(85, 98), comment=" c"))
        return True

    def d_missing_operand(self):
        l = self.pick(lambda l: l.args and l.op not in ("dbg",))
        if l is None:
            return False
        k = self.r.randrange(1, len(l.args) + 1)
        l.args = l.args[:-k]
        return True

    def d_extra_operand(self):
        l = self.pick(lambda l: l.op != "str")
        if l is None:
            return False
        l.args = l.args + [self.r.choice([self.reg(), "5", "X", "fp2", "r99"])]
        return True

    def d_operand_kind(self):
        r = self.r
        v = r.randrange(5)
        if v == 0:
            l = self.pick(lambda l: self.reg_positions(l))
            if l is None:
                return False
            i = r.choice(self.reg_positions(l))
            l.args[i] = r.choice(["5", "-1", "0x10", "'a'", self.fresh(), r.choice(self.strings or ["S"]), "C0"])
        elif v == 1:
            l = self.pick(lambda l: l.op in ("var", "ndx", "sel", "ntr", "gstr", "cal", "end", "rtn"))
            if l is None:
                return False
            kinds = SIG[l.op].replace("?", "").split()
            pos = [i for i, k in enumerate(kinds) if i < len(l.args) and k in ("num", "dist", "delta", "words")]
            if l.op == "rtn":
                pos = [len(l.args) - 1]
            if not pos:
                return False
            l.args[r.choice(pos)] = r.choice(["r1", "rr", "R2", "X1", "abc", "r1x", "fp1", "1.5", "$9",
                                              "-2", "-5", "''", "'ab'"])
        elif v == 2:
            l = self.pick(lambda l: l.op == "cst")
            if l is None:
                return False
            l.args[0] = r.choice(CST_BAD)
        elif v == 3:
            l = self.pick(lambda l: l.op == "cstf")
            if l is None:
                l = self.insert(Ln("cstf", ["x", self.reg()]))
            l.args[0] = r.choice(FLITS_BAD)
        else:
            l = self.pick(lambda l: l.op in ("bra", "brf", "mth", "cls", "end", "ntr", "str"))
            if l is None:
                return False
            i = {"bra": 0, "brf": 1, "mth": 0, "cls": r.randrange(2), "end": r.choice([1, 2]),
                 "ntr": 0, "str": 0}[l.op]
            if i >= len(l.args):
                return False
            l.args[i] = r.choice(["5", "r1", "rr", "0x10", "'a'", "1abc", "a-b", "fp2", "$x",
                                  "x$y", "@l", "a+b", "R13", "r13"])
        return True

    def d_register(self):
        r = self.r
        l = self.pick(lambda l: self.reg_positions(l) or l.op in ("cal", "rtn"))
        if l is None:
            return False
        bad = r.choice(BAD_REGS)
        if l.op == "cal":
            l.args[1] = bad
        elif l.op == "rtn":
            l.args = [bad] + l.args[-1:]
        else:
            l.args[r.choice(self.reg_positions(l))] = bad
        return True

    def d_float_register(self):
        r = self.r
        l = self.pick(lambda l: l.args)
        if l is None:
            return False
        i = r.randrange(len(l.args))
        l.args[i] = r.choice(["fp%d" % r.randrange(32), r.choice(FREGS_BAD)])
        return True

    def d_freg_position(self):
        # a general register, or a bad one, where a float register goes
        l = self.pick(lambda l: l.op in ("pshf", "valf"))
        if l is None:
            l = self.insert(Ln("valf", [self.reg(), "fp1"]))
        i = 0 if l.op == "pshf" else 1
        l.args[i] = self.r.choice(FREGS_BAD + ["r3", "rr", "5", "X"])
        return True

    def defined_labels(self):
        out = []
        for l in self.lines:
            if l.raw is not None:
                continue
            if l.lbl is not None:
                out.append(l.lbl)
            if l.op in ("ntr", "str", "cls") and l.args:
                out.append(l.args[0])
        return out

    def empty_procedure(self, name):
        """A procedure of its own, named `name`, before the end line."""
        i = next((i for i, l in enumerate(self.lines) if l.op == "end" and l.raw is None), len(self.lines))
        self.lines[i:i] = [Ln("ntr", [name, "0"], indent="", proc=name), Ln("rtn", ["0"], proc=name)]

    def define_somewhere(self, name):
        r = self.r
        v = r.randrange(4)
        if v == 0:
            self.insert(Ln(lbl=name))
        elif v == 1:
            self.insert(Ln("str", [name], lit="dup"))
        elif v == 2:
            self.empty_procedure(name)
        else:
            l = self.pick(lambda l: l.lbl is None and l.op not in ("ntr",))
            if l is None:
                self.insert(Ln(lbl=name))
            else:
                l.lbl = name

    def d_duplicate_label(self):
        r = self.r
        if r.random() < 0.3:
            name = self.fresh("reg")
            self.define_somewhere(name)
        else:
            names = self.defined_labels()
            if not names:
                return False
            name = r.choice(names)
        self.define_somewhere(name)
        return True

    def d_undefined_label(self):
        r = self.r
        name = self.fresh(r.choice(["Nowhere", "reg", "Loop", "dot"]))
        v = r.randrange(8)
        if v == 0:
            self.insert(Ln("bra", [name]))
        elif v == 1:
            self.insert(Ln("brf", [self.reg(), name]))
        elif v == 2:
            self.insert(Ln("cst", [name, self.reg()]))
        elif v == 3:
            i = next(i for i, l in enumerate(self.lines) if l.op == "cls")
            self.lines.insert(i + 1, Ln("mth", [name], indent=""))
        elif v == 4:
            l = next(l for l in self.lines if l.op == "cls")
            l.args[1] = name
        elif v == 5:
            l = next((l for l in self.lines if l.op == "end" and l.raw is None), None)
            if l is None:
                return False
            l.args[r.choice([1, 2])] = name
        elif v == 6:
            self.insert(Ln("cal", ["-1", name]))
        else:
            # a branch label that is used but whose definition is lost
            l = self.pick(lambda l: l.lbl is not None)
            if l is None:
                self.insert(Ln("bra", [name]))
            else:
                l.lbl = None
                if not l.op:
                    l.raw = ""
        return True

    def d_reserved_label(self):
        r = self.r
        name = r.choice(RESERVED)
        v = r.randrange(5)
        if v == 0:
            self.insert(Ln(lbl=name))
        elif v == 1:
            self.insert(Ln("str", [name], lit="r"))
        elif v == 2:
            self.empty_procedure(name)
        elif v == 3:
            self.insert(Ln("bra", [name]))
        else:
            self.insert(Ln("pln", lbl=name))
        return True

    def d_label_gap(self):
        r = self.r
        l = self.pick(lambda l: l.lbl is not None)
        if l is None:
            l = self.insert(Ln(lbl=self.fresh()))
        v = r.randrange(6)
        if v == 0:
            l.lbl_colon = " :"
        elif v == 1:
            l.lbl_colon = "\t:"
        elif v == 2:
            l.lbl_colon = "  \t :"
        elif v == 3:
            l.lbl_pre = ","
        elif v == 4:
            l.lbl_colon = ",:"
        else:
            l.lbl = l.lbl + r.choice([" B", "\tB", " x y", ",x"])
        return True

    def d_colon_operand(self):
        r = self.r
        v = r.randrange(5)
        if v == 0:
            l = self.pick(lambda l: l.op == "bra")
            if l is None:
                l = self.insert(Ln("bra", [self.fresh()]))
                self.insert(Ln(lbl=l.args[0]))
            l.args[0] += ":"
        elif v == 1:
            self.insert(Ln("cst", [r.choice(["X:", "a:b", ":"]), self.reg()]))
        elif v == 2:
            self.insert(Ln("dbg", [r.choice(["a:b", "x:", ":"])]))
        elif v == 3:
            l = self.pick(lambda l: l.args)
            l.args[-1] += ":"
        else:
            self.insert(Ln(raw="\tpint r1 :: here"))
        return True

    def d_pass_through(self):
        r = self.r
        text = r.choice(["L12\t\t\tj L14", "L12 bra X", "L5", "Loop r1", "L1 pln", "LABEL",
                         "L12", "Lx: ", "Lsub r1, r2", " L3 add r1, r2", "\tL7"])
        if text == "Lx: ":
            ln = self.insert(Ln("Lfoo", ["r1"], lbl=self.fresh()))
        else:
            self.insert(Ln(raw=text))
        return True

    def odd_byte(self):
        r = self.r
        b = r.choice(HIGH_BYTES) if r.random() < 0.55 else r.choice(CONTROL_BYTES)
        return b * 2 if r.random() < 0.1 else b

    def spot(self, text, b):
        """text with b at its start, in its middle or at its end."""
        k = self.r.choice([0, len(text) // 2, len(text)])
        return text[:k] + b + text[k:]

    def d_bytes(self):
        return self.plant(self.r.choice(BYTE_PLACES), self.odd_byte())

    def plant(self, place, b):
        r = self.r
        if place == "first-line":
            v = r.randrange(4)
            if v == 0:
                # a byte-order mark before the first line, and what it stands before
                self.first_prefix = "\xef\xbb\xbf"
                self.first_code = r.choice(["", "", "\t", "   ", "ntr Init, 0", "cls C9, C9", "L0:", "pln",
                                            "X1:\tpln", "\tcst 1, r1", "Lx"])
            elif v == 1:
                self.first_prefix = b
            elif v == 2:
                self.first_code = self.spot(r.choice(["pln", "L0:", "ntr Init, 0"]), b)
            else:
                self.first_prefix = "\xef\xbb\xbf" + b
            return True
        if place == "comment-line":
            self.insert(Ln(raw=r.choice(["//", "\t//", "// ", "  //"]) + self.spot(r.choice(["", " note ", "x"]), b)))
            return True
        if place == "last-line":
            self.final_newline = r.random() < 0.5
            l = self.lines[-1]
            if l.raw is not None:
                l.raw = self.spot(l.raw, b)
                return True
            return self.plant_in(l, r.choice(BYTE_PLACES[:14]), b)
        if place == "cut":
            return self.plant_cut(b)
        l = self.pick()
        return l is not None and self.plant_in(l, place, b)

    def plant_in(self, l, place, b):
        r = self.r
        if place in ("label", "label-colon", "after-label") and l.lbl is None:
            l.lbl = self.fresh()
        if place in ("before-literal", "literal", "after-literal") and l.lit is None:
            # a literal on any line: str takes the last one, whichever line set it
            l.lit = self.literal()
        if place in ("before-comment", "comment") and l.comment is None:
            l.comment = self.comment()
        if place == "label":
            l.lbl = self.spot(l.lbl, b)
        elif place == "label-colon":
            l.lbl_colon = b + ":"
        elif place == "after-label":
            l.lbl_sep = r.choice([b, b + "\t", "\t" + b])
        elif place == "indent":
            if l.lbl is not None:
                l.lbl_pre = self.spot(l.lbl_pre, b)
            else:
                l.indent = self.spot(l.indent, b)
        elif place == "opcode":
            if not l.op:
                return False
            l.op = self.spot(l.op, b)
        elif place == "opcode-sep":
            if not l.args:
                return False
            l.first_sep = r.choice([b, " " + b, b + " "])
        elif place == "operand":
            if not l.args:
                return False
            i = r.randrange(len(l.args))
            l.args[i] = self.spot(l.args[i], b)
        elif place == "between":
            if len(l.args) < 2:
                return False
            l.seps = list(l.seps or [", "] * (len(l.args) - 1))
            l.seps[r.randrange(len(l.args) - 1)] = r.choice([b, ", " + b, b + ",", " " + b + " "])
        elif place == "before-literal":
            l.lit_sep = self.spot(l.lit_sep, b)
        elif place == "literal":
            l.lit = self.spot(l.lit, b)
        elif place == "after-literal":
            l.tail = b + r.choice(["", " ", " x"])
        elif place == "before-comment":
            l.comment_sep = self.spot(l.comment_sep, b)
        elif place == "comment":
            l.comment = self.spot(l.comment, b)
        else:  # line-end
            if l.comment is not None:
                l.comment += b
            else:
                l.tail += b
        return True

    def plant_cut(self, b):
        """A byte about the cut at column 100: in a comment whose rest may be
        translated, in an operand pushed there by blanks, in a long literal."""
        r = self.r
        at = r.choice([96, 97, 98, 99, 100, 101, 110])  # the byte's position, from 0
        v = r.randrange(3)
        if v == 0:
            l = self.pick()
            if l is None:
                return False
            l.comment = None
            head = l.text() + r.choice(["\t", " ", ""]) + "//"
            fill = "".join(r.choice("abc ") for _ in range(max(0, at - len(head))))
            l.raw = head + fill + b + r.choice(["", " more", ": pln", "x: pln", " pln", "x", " // c"])
        elif v == 1:
            l = self.pick(lambda l: l.args and l.lbl is None)
            if l is None:
                return False
            l.comment = None
            l.args[-1] = l.args[-1] + b
            l.indent = " " * max(0, at - len(l.text()) + len(b)) + l.indent
        else:
            k = max(0, at - 9)
            self.insert(Ln("str", [self.fresh("S")], lit="y" * k + b + "z" * r.randrange(0, 12)))
        return True

    def d_literal(self):
        r = self.r
        bad = r.choice(['a"b', 'ab\\', '\\0', 'x\\0y', '\\1', '\\12', '\\08', 'a//b', '//',
                        'say "hi"', 'a""b', 'a\\\\', '\\\\', 'x\\\\0', 'a\\\\\\\\', '"', 'ab"',
                        '\\\\"', 'a\\"', '\\19', 'ok\\\\n'])
        l = self.pick(lambda l: l.op == "str")
        if l is None:
            l = self.insert(Ln("str", [self.fresh("S")], lit=""))
        l.lit = bad
        return True

    def d_dbg_word(self):
        self.insert(Ln("dbg", [self.r.choice(['a"b', 'x\\', 'x\\0', '\\12', 'a\\\\0', '\\1x',
                                                '"', 'x\\\\\\', '\\\\', '\\08', 'x\\"'])]))
        return True

    def d_str_without_literal(self):
        l = self.pick(lambda l: l.op == "str")
        if l is None:
            l = self.insert(Ln("str", [self.fresh("S")], lit="x"))
        l.lit = None
        if self.r.random() < 0.3:
            l.args = l.args + ['"']
        return True

    def d_program_end(self):
        r = self.r
        i = next((i for i, l in enumerate(self.lines) if l.op == "end" and l.raw is None), len(self.lines))
        if i == len(self.lines):
            return False
        if r.random() < 0.5:
            del self.lines[i]
        else:
            self.lines.insert(r.randrange(i, len(self.lines) + 1) if r.random() < 0.5 else i + 1,
                              Ln("end", ["1", "C0", "Main"], indent=""))
        return True

    def d_mth_after_close(self):
        r = self.r
        m = next((l.args[0] for l in self.lines if l.op == "mth"), None) or self.procs[-1][0]
        if r.random() < 0.5:
            # after the line that closed the table
            i = max(i for i, l in enumerate(self.lines) if l.op in ("cls", "mth"))
            self.lines.insert(i + 2, Ln("mth", [m], indent=""))
        else:
            self.insert(Ln("mth", [m]))
        return True

    def d_label_after_table(self):
        r = self.r
        i = max(i for i, l in enumerate(self.lines) if l.op in ("cls", "mth"))
        nxt = self.lines[i + 1]
        lab = self.fresh()
        if nxt.raw is not None or r.random() < 0.4:
            self.lines.insert(i + 1, Ln(lbl=lab, indent=""))
        else:
            nxt.lbl = lab
        if r.random() < 0.5:
            self.insert(Ln("bra", [lab]))
        return True

    def d_gbln_rr(self):
        l = self.pick(lambda l: l.op == "gbln")
        if l is None:
            self.insert(Ln("gbln", ["rr"]))
        else:
            l.args[0] = "rr"
        return True

    def d_push_count(self):
        r = self.r
        v = r.randrange(5)
        if v == 0:
            l = self.pick(lambda l: l.op == "cal" and l.pushes)
            if l is None:
                return False
            p = r.choice(l.pushes)
            self.lines.remove(p)
        elif v == 1:
            l = self.pick(lambda l: l.op == "cal")
            if l is None:
                return False
            i = self.lines.index(l)
            self.lines.insert(i, Ln("psh", [self.reg()], proc=l.proc))
        elif v == 2:
            l = self.pick(lambda l: l.op == "rtn")
            l.args[-1] = str(int(l.args[-1]) + r.choice([1, 2, 3]))
        elif v == 3:
            l = self.pick(lambda l: l.op == "rtn" and l.proc == "Main")
            l.args[-1] = r.choice(["0", "2", "3"])
        else:
            l = self.pick(lambda l: l.op == "rtn")
            i = self.lines.index(l)
            lab = self.fresh()
            self.lines[i:i] = [Ln("brf", ["r1", lab], proc=l.proc),
                               Ln("rtn", [str(int(l.args[-1]) + 1)], proc=l.proc),
                               Ln(lbl=lab, proc=l.proc)]
        return True

    def d_heap(self):
        r = self.r
        if r.random() < 0.5:
            a, b = self.reg(False), self.reg(False)
            l = self.insert(Ln("cst", [r.choice(["1001", "2000", "5000", "100000"]), a]))
            i = self.lines.index(l)
            self.lines.insert(i + 1, Ln("alc", [a, b], proc=l.proc))
        else:
            l = next((l for l in self.lines if l.op == "end" and l.raw is None), None)
            if l is None:
                return False
            l.args[0] = r.choice(["1001", "1500", "100000"])
        return True

    def d_wide_constant(self):
        # SPIM keeps the low 32 bits of a wider constant without a word
        self.insert(Ln("cst", [self.r.choice(["99999999999", "4294967296", "-2147483649"]), self.reg(False)]))
        return True

    def d_control_in_tokens(self):
        # a carriage return, form feed or vertical tab ends the tokens
        r = self.r
        l = self.pick(lambda l: len(l.args) >= 1)
        c = r.choice(["\r", "\x0c", "\x0b"])
        l.seps = [c + " "] * max(1, len(l.args) - 1)
        l.first_sep = r.choice([" ", c])
        return True

    def d_data_target(self):
        # branches and calls to labels of the data segment
        r = self.r
        tgt = r.choice((self.strings or ["C0"]) + self.classes)
        v = r.randrange(4)
        if v == 0:
            self.insert(Ln("bra", [tgt]))
        elif v == 1:
            self.insert(Ln("brf", [self.reg(), tgt]))
        elif v == 2:
            self.insert(Ln("cal", ["-1", tgt]))
        else:
            l = next((l for l in self.lines if l.op == "end" and l.raw is None), None)
            if l is None:
                return False
            l.args[2] = tgt
        return True

    def d_crlf(self):
        self.crlf = True
        return True

    DEFECTS = [
        ("unknown-opcode", d_unknown_opcode, 4), ("long-line", d_long_line, 6),
        ("missing-operand", d_missing_operand, 4), ("extra-operand", d_extra_operand, 3),
        ("operand-kind", d_operand_kind, 6), ("register", d_register, 5),
        ("float-register", d_float_register, 4), ("freg-position", d_freg_position, 2),
        ("duplicate-label", d_duplicate_label, 4), ("undefined-label", d_undefined_label, 5),
        ("reserved-label", d_reserved_label, 4), ("label-gap", d_label_gap, 3),
        ("colon-operand", d_colon_operand, 3), ("pass-through", d_pass_through, 3),
        ("bytes", d_bytes, 5), ("literal", d_literal, 5), ("dbg-word", d_dbg_word, 3),
        ("str-without-literal", d_str_without_literal, 2), ("program-end", d_program_end, 2),
        ("mth-after-close", d_mth_after_close, 2), ("label-after-table", d_label_after_table, 2),
        ("gbln-rr", d_gbln_rr, 1), ("push-count", d_push_count, 4), ("heap", d_heap, 2),
        ("control-in-tokens", d_control_in_tokens, 2), ("data-target", d_data_target, 2),
        ("crlf", d_crlf, 1), ("wide-constant", d_wide_constant, 1),
    ]

    def inject(self):
        r = self.r
        x = r.random()
        k = 0 if x < 0.4 else 1 if x < 0.85 else 2 if x < 0.95 else 3
        total = sum(w for _, _, w in self.DEFECTS)
        while len(self.defects) < k:
            t = r.uniform(0, total)
            for name, fn, w in self.DEFECTS:
                t -= w
                if t <= 0:
                    break
            if fn(self):
                self.defects.append(name)

    def program(self):
        self.build()
        if self.bytes_mode:
            for _ in range(self.r.randrange(1, 5)):
                if self.d_bytes():
                    self.defects.append("bytes")
            # str without a literal writes the last earlier one, bytes and all
            if self.r.random() < 0.25 and self.d_str_without_literal():
                self.defects.append("str-without-literal")
            if self.r.random() < 0.3:
                self.inject()
        else:
            self.inject()
        head = "// soundness seed %d: defects %s" % (self.seed, ",".join(self.defects) or "none")
        if self.first_code:
            head = self.first_code + self.r.choice(["\t", " "]) + head
        head = self.first_prefix + head
        nl = "\r\n" if self.crlf else "\n"
        text = nl.join([head] + [l.text() for l in self.lines])
        if self.final_newline:
            text += nl
        return text.encode("latin-1")


def program(seed, bytes_mode=False):
    g = Gen(seed)
    g.bytes_mode = bytes_mode
    return g.program()


def main(argv):
    bytes_mode = len(argv) > 1 and argv[1] == "--bytes"
    if bytes_mode:
        argv = argv[:1] + argv[2:]
    if len(argv) == 2:
        sys.stdout.buffer.write(program(int(argv[1]), bytes_mode))
        return 0
    if len(argv) == 5 and argv[1] == "--batch":
        d, first, count = argv[2], int(argv[3]), int(argv[4])
        os.makedirs(d, exist_ok=True)
        for s in range(first, first + count):
            with open(os.path.join(d, "seed-%d.ic" % s), "wb") as f:
                f.write(program(s, bytes_mode))
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
