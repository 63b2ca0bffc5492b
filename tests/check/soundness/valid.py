#!/usr/bin/env python3
"""Random VALID intermediate programs that run in SPIM, with their expected output.

    valid.py SEED                     one program on standard output (first file)
    valid.py --batch DIR FIRST COUNT  for N = FIRST .. FIRST+COUNT-1:
                                      DIR/seed-N.ic, DIR/seed-N.2.ic, ... (the files
                                      of the program, in order), DIR/seed-N.out (the
                                      exact console output), DIR/seed-N.in (console
                                      input, only when the program reads some)

Every program is meant to be correct: it assembles, runs to its end through the
main constructor's "rtn 1" and prints exactly the .out text.  The checker must
report nothing on any of them (valid_run.sh runs them).

How the expected output is known: the program is built as a list of
instructions with meaning (registers, literals, labels) and written out in a
randomly chosen spelling afterwards.  A small machine below runs those
instructions with the generated program's run-time model (activation
records, static links, the heap below the start-up stack pointer, class
tables, the console services), and its output is the .out file.  The builder
only keeps track of what kind of value each register holds; a choice that
goes wrong at run time (an overflow, a division by zero, an uninitialised
value printed, a float that does not print exactly) makes the machine refuse
the program, and the builder starts again from a seed derived from the first.

Forms of the input format covered on purpose: comments after any line (also
after a literal, holding quotes and "//"), comment-only and blank lines;
blanks, tabs and commas as separators in any mix; labels of many shapes
(digits, "_", ".", a leading "$", register look-alikes such as r5 or fp2,
opcode names such as "end:") on their own line or on any opcode; MIPS
registers written directly ($10, $t2, $v0, $f6); a number as the first
operand of arithmetic and comparisons (where SPIM takes the immediate form);
mixed-case registers; lines of 97 to 100 bytes with LF or CR LF ends
whose cut only touches a comment or closes a finished class table; nested
procedures written inside their parent and branched over, with var through
static links and cal with display distances; root classes and empty method
slots; several files forming one program; calls to procedures defined later;
strings with escapes; console output of every kind and console input.
Also: labels named like the translator's own (_ML0N, _ML and a large number)
with blanks, tabs, commas or a carriage return before the colon; control
bytes and UTF-8 text (accents, the euro sign, Japanese, an emoji) in
comments wherever a comment can stand, also across the cut at column 100;
files that begin with a byte-order mark, a blank or
indented line, and that end with blank lines, a blank-only or comment line,
with or without a line break.

The same seed always gives the same bytes (standard library only).
"""
import os
import random
import struct
import sys

# ----------------------------------------------------------------------------
# Values of the run-time machine


class Fault(Exception):
    """The program would not run as intended: the builder tries again."""


class Addr:
    """A byte address: base "S" (the stack and the heap, relative to the
    start-up stack pointer) or a data label, plus a byte offset."""
    __slots__ = ("base", "off")

    def __init__(self, base, off):
        self.base, self.off = base, off

    def __eq__(self, o):
        return isinstance(o, Addr) and o.base == self.base and o.off == self.off

    def __hash__(self):
        return hash((self.base, self.off))

    def plus(self, n):
        return Addr(self.base, self.off + n)


class Code:
    """The address of a code label (a procedure's entry)."""
    __slots__ = ("name",)

    def __init__(self, name):
        self.name = name

    def __eq__(self, o):
        return isinstance(o, Code) and o.name == self.name

    def __hash__(self):
        return hash(("code", self.name))


class Flt:
    """A float's single-precision bit pattern held in a general register."""
    __slots__ = ("bits",)

    def __init__(self, bits):
        self.bits = bits

    def value(self):
        return struct.unpack("<f", struct.pack("<I", self.bits))[0]

    @staticmethod
    def of(x):
        b = struct.unpack("<I", struct.pack("<f", x))[0]
        f = Flt(b)
        v = f.value()
        if v != v or v in (float("inf"), float("-inf")):
            raise Fault("float out of range")
        return f


class Ret:
    __slots__ = ("pc",)

    def __init__(self, pc):
        self.pc = pc


def i32(v):
    v &= 0xFFFFFFFF
    return v - (1 << 32) if v & 0x80000000 else v


def need_int(v):
    if not isinstance(v, int):
        raise Fault("integer expected, got %r" % (v,))
    return v


def checked(v):
    if v < -(1 << 31) or v >= (1 << 31):
        raise Fault("overflow")
    return v


def spim_text(lit):
    """What SPIM's .asciiz makes of a literal: \\n, \\t and \\" are escapes,
    any other backslash stays as it is."""
    out, i = [], 0
    while i < len(lit):
        c = lit[i]
        if c == "\\" and i + 1 < len(lit) and lit[i + 1] in 'nt"':
            out.append({"n": "\n", "t": "\t", '"': '"'}[lit[i + 1]])
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


# ----------------------------------------------------------------------------
# Instructions with meaning; the spelling is chosen when they are written


class Reg:
    __slots__ = ("i",)

    def __init__(self, i):
        self.i = i      # 0..13 or "rr"


class FReg:
    __slots__ = ("n",)

    def __init__(self, n):
        self.n = n


class Imm:
    __slots__ = ("v", "text")

    def __init__(self, v, text=None):
        self.v, self.text = v, (str(v) if text is None else text)


class Lab:
    __slots__ = ("name",)

    def __init__(self, name):
        self.name = name


class Ins:
    def __init__(self, op=None, args=(), label=None, lit=None, raw=None):
        self.op = op
        self.args = list(args)
        self.label = label
        self.lit = lit
        self.raw = raw          # a comment-only or blank line, as written
        self.comment = None
        self.long = None        # wanted length of a long line
        self.no_label_here = False


# ----------------------------------------------------------------------------
# The run-time machine

BADIPBL = "**** ERROR: Execution error, Can not parse Boolean\n"


class Machine:
    STEP_LIMIT = 40000

    def __init__(self, code, inp, end):
        self.code = code
        self.inp = inp
        self.ipos = 0
        self.out = []
        self.mem = {}
        self.labels = {}
        self.procs = set()
        self.strings = {}
        self.reg = {i: None for i in range(14)}
        self.reg["rr"] = None
        self.freg = {}
        self.a3 = 0
        self.tables = set()
        for k, ins in enumerate(code):
            if ins.label is not None:
                self.labels[ins.label] = k
            if ins.op == "ntr":
                self.labels[ins.args[0].name] = k
                self.procs.add(ins.args[0].name)
            elif ins.op in ("cls", "str"):
                self.tables.add(ins.args[0].name)
        table = None
        for k, ins in enumerate(code):
            if ins.op == "str":
                self.strings[Addr(ins.args[0].name, 0)] = spim_text(ins.lit)
            elif ins.op == "cls":
                table = ins.args[0].name
                self.mem[Addr(table, 0)] = self.const(ins.args[1])
                slot = 1
            elif ins.op == "mth":
                self.mem[Addr(table, 4 * slot)] = self.const(ins.args[0])
                slot += 1
        self.end = end

    def const(self, a):
        if isinstance(a, Imm):
            return a.v
        n = a.name
        if n in self.tables:
            return Addr(n, 0)
        if n in self.labels:
            return Code(n)
        raise Fault("undefined label %s" % n)

    # -- helpers
    def get(self, a):
        if isinstance(a, Imm):
            return a.v
        v = self.reg[a.i]
        if v is None:
            raise Fault("undefined register read")
        return v

    def put(self, a, v):
        self.reg[a.i] = v

    def load(self, addr):
        if not isinstance(addr, Addr):
            raise Fault("load from a non-address")
        if addr.off % 4:
            raise Fault("unaligned")
        if addr.base == "S" and not (-300000 < addr.off <= 0):
            raise Fault("stack address out of range")
        v = self.mem.get(addr)
        return v

    def store(self, addr, v):
        if not isinstance(addr, Addr) or addr.off % 4:
            raise Fault("store to a non-address")
        if addr.base != "S":
            raise Fault("store into the data segment")
        if not (-300000 < addr.off <= 0):
            raise Fault("stack address out of range")
        self.mem[addr] = v

    def readline(self, limit=None):
        s = []
        while self.ipos < len(self.inp) and (limit is None or len(s) < limit):
            c = self.inp[self.ipos]
            self.ipos += 1
            s.append(c)
            if c == "\n":
                break
        return "".join(s)

    def readchar(self):
        if self.ipos >= len(self.inp):
            raise Fault("read past the end of the input")
        c = self.inp[self.ipos]
        self.ipos += 1
        return c

    def read_int(self):
        s = self.readline(255).lstrip(" \t")
        sign, i = 1, 0
        if s[:1] in "+-" and s[:1]:
            sign = -1 if s[0] == "-" else 1
            i = 1
        n = 0
        while i < len(s) and s[i].isdigit():
            n = n * 10 + int(s[i])
            i += 1
        return i32(sign * n)

    def emit(self, s):
        self.out.append(s)

    def alloc(self, words):
        self.heap = self.heap.plus(-4 * words)
        if self.heap.off < -3500:
            raise Fault("heap exhausted")
        return self.heap.plus(4)

    def jump(self, name):
        if name not in self.labels:
            raise Fault("undefined label %s" % name)
        return self.labels[name]

    # -- the run
    def run(self):
        S = Addr("S", 0)
        self.heap = S
        s7 = S.plus(-4000)
        self.sp = S.plus(-4060)
        self.t0 = S.plus(-4068)
        self.fp = self.t0
        self.mem[self.fp] = self.sp
        words, cls_name, main_name = self.end
        base = self.alloc(words)
        self.mem[base] = Addr(cls_name, 0)
        self.mem[s7] = base
        self.ra = "exit"
        pc = self.jump(main_name)
        steps = 0
        while True:
            steps += 1
            if steps > self.STEP_LIMIT:
                raise Fault("too many steps")
            if pc >= len(self.code):
                raise Fault("ran off the end")
            ins = self.code[pc]
            nxt = self.step(ins, pc)
            if nxt == "exit":
                break
            pc = pc + 1 if nxt is None else nxt
        if self.ipos != len(self.inp):
            raise Fault("input not read to its end")
        return "".join(self.out)

    def step(self, ins, pc):
        op, a = ins.op, ins.args
        if op is None or op in ("str", "cls", "mth", "end"):
            if op == "end":
                raise Fault("control reached the end line")
            return None
        reg = self.reg
        if op == "ntr":
            self.store(self.sp, self.t0)
            self.sp = self.sp.plus(-4)
            self.store(self.sp, self.ra)
            self.sp = self.sp.plus(-4)
            self.store(self.sp, self.fp)
            self.fp = self.sp
            self.sp = self.sp.plus(-4)
            for j in range(14):
                self.store(self.fp.plus(64 - 4 * j), reg[j])
            self.t0 = -4 * a[1].v
            self.sp = self.sp.plus(self.t0)
            return None
        if op == "rtn":
            if len(a) == 2:
                reg["rr"] = self.get(a[0])
                count = a[1].v
            else:
                count = a[0].v
            ret = self.load(self.fp.plus(4))
            for j in range(14):
                reg[j] = self.load(self.fp.plus(64 - 4 * j))
            self.sp = self.fp.plus(60 + 4 * count)
            self.fp = self.load(self.fp)
            if ret == "exit":
                return "exit"
            if not isinstance(ret, Ret):
                raise Fault("bad return address")
            return ret.pc
        if op == "cal":
            self.store(self.sp, 0)
            self.sp = self.sp.plus(-56)
            t0 = self.fp.plus(8)
            d = a[0].v + 1
            if d < 0:
                raise Fault("endless walk")
            for _ in range(d):
                t0 = self.load(t0)
                if not isinstance(t0, Addr):
                    raise Fault("broken static link")
            self.t0 = t0
            tgt = a[1]
            name = tgt.name if isinstance(tgt, Lab) else None
            if name is None:
                v = self.get(tgt)
                if not isinstance(v, Code):
                    raise Fault("call through a non-code value")
                name = v.name
            if name not in self.procs:
                raise Fault("call to a non-procedure")
            self.ra = Ret(pc + 1)
            return self.labels[name]
        if op == "var":
            a2 = self.fp.plus(8)
            for _ in range(a[0].v):
                a2 = self.load(a2)
                if not isinstance(a2, Addr):
                    raise Fault("broken static link")
            v = a2.plus(-4 * (a[1].v + 1))
            reg["rr"] = v
            self.put(a[2], v)
            return None
        if op == "val":
            v = self.load(self.get(a[0]))
            self.put(a[0], v)
            return None
        if op == "valf":
            self.freg[a[1].n] = self.load(self.get(a[0]))
            return None
        if op == "sto":
            self.store(self.get(a[1]), self.get(a[0]))
            return None
        if op == "mov":
            self.put(a[1], self.get(a[0]))
            return None
        if op == "sel":
            b = self.get(a[1])
            if not isinstance(b, Addr):
                raise Fault("sel on a non-address")
            self.put(a[1], b.plus(4 * a[0].v))
            return None
        if op == "ndx":
            i = need_int(self.get(a[0]))
            off = i32((i - a[1].v) * a[2].v * 4)
            b = self.get(a[3])
            if not isinstance(b, Addr):
                raise Fault("ndx on a non-address")
            self.put(a[0], off)
            self.put(a[3], b.plus(off))
            return None
        if op == "alc":
            n = need_int(self.get(a[0]))
            if n < 0:
                raise Fault("negative alc")
            self.put(a[1], self.alloc(n))
            return None
        if op == "cst":
            self.put(a[1], self.const(a[0]))
            return None
        if op == "cstf":
            self.put(a[1], Flt.of(float(a[0].text)))
            return None
        if op in ("add", "sub"):
            x, y = self.get(a[0]), self.get(a[1])
            if op == "sub":
                if isinstance(x, int):
                    x = -x
                else:
                    raise Fault("subtracting an address")
            if isinstance(x, int) and isinstance(y, int):
                self.put(a[1], checked(y + x))
            elif isinstance(x, int) and isinstance(y, Addr):
                self.put(a[1], y.plus(x))
            elif isinstance(x, Addr) and isinstance(y, int) and op == "add":
                self.put(a[1], x.plus(y))
            else:
                raise Fault("address arithmetic")
            return None
        if op in ("mul", "div", "rem", "and", "or"):
            x, y = need_int(self.get(a[0])), need_int(self.get(a[1]))
            if op == "mul":
                r = i32(y * x)
            elif op in ("div", "rem"):
                if x == 0 or (y == -(1 << 31) and x == -1):
                    raise Fault("division")
                q = abs(y) // abs(x)
                if (y < 0) != (x < 0):
                    q = -q
                r = q if op == "div" else y - q * x
            elif op == "and":
                r = i32(y & x)
            else:
                r = i32(y | x)
            self.put(a[1], r)
            return None
        if op == "neg":
            self.put(a[0], checked(-need_int(self.get(a[0]))))
            return None
        if op == "not":
            self.put(a[0], need_int(self.get(a[0])) ^ 1)
            return None
        if op in ("addf", "subf", "mulf", "divf"):
            x, y = self.get(a[0]), self.get(a[1])
            if not (isinstance(x, Flt) and isinstance(y, Flt)):
                raise Fault("float operation on a non-float")
            x, y = x.value(), y.value()
            if op == "addf":
                r = y + x
            elif op == "subf":
                r = y - x
            elif op == "mulf":
                r = y * x
            else:
                if x == 0:
                    raise Fault("float division by zero")
                r = y / x
            self.put(a[1], Flt.of(r))
            self.freg.pop(2, None)
            self.freg.pop(4, None)
            return None
        if op == "negf":
            x = self.get(a[0])
            if not isinstance(x, Flt):
                raise Fault("negf on a non-float")
            self.put(a[0], Flt(x.bits ^ 0x80000000))
            self.freg.pop(2, None)
            self.freg.pop(4, None)
            return None
        if op in ("ltn", "leq", "gtr", "geq"):
            x, y = need_int(self.get(a[0])), need_int(self.get(a[1]))
            r = {"ltn": y < x, "leq": y <= x, "gtr": y > x, "geq": y >= x}[op]
            self.put(a[1], int(r))
            return None
        if op in ("eql", "neq", "eqlf", "neqf"):
            x, y = self.get(a[0]), self.get(a[1])
            if type(x) is not type(y):
                if isinstance(x, (Addr, Code)) and y == 0 or isinstance(y, (Addr, Code)) and x == 0:
                    same = False
                else:
                    raise Fault("comparing values of different kinds")
            elif isinstance(x, Flt):
                same = x.bits == y.bits
            else:
                same = x == y
            self.put(a[1], int(same == (op in ("eql", "eqlf"))))
            return None
        if op in ("ltnf", "leqf", "gtrf", "geqf"):
            x, y = self.get(a[0]), self.get(a[1])
            if not (isinstance(x, Flt) and isinstance(y, Flt)):
                raise Fault("float comparison on a non-float")
            x, y = x.value(), y.value()
            r = {"ltnf": y < x, "leqf": y <= x, "gtrf": not y <= x, "geqf": not y < x}[op]
            self.put(a[1], int(r))
            self.freg.pop(2, None)
            self.freg.pop(4, None)
            return None
        if op == "bra":
            return self.jump(a[0].name)
        if op == "brf":
            if need_int(self.get(a[0])) == 0:
                return self.jump(a[1].name)
            return None
        if op == "psh":
            self.store(self.sp, self.get(a[0]))
            self.sp = self.sp.plus(-4)
            return None
        if op == "pshf":
            v = self.freg.get(a[0].n)
            if v is None:
                raise Fault("pshf of an unset float register")
            self.store(self.sp, v)
            self.sp = self.sp.plus(-4)
            return None
        # console: every service loads $v0
        res = self.console(op, a)
        reg["rr"] = None
        return res

    def console(self, op, a):
        if op == "pint":
            self.emit("%d " % need_int(self.get(a[0])))
        elif op == "pflt":
            v = self.get(a[0])
            if not isinstance(v, Flt):
                raise Fault("pflt of a non-float")
            x = v.value()
            if x * 256 != int(x * 256) or abs(x) > 1e6:
                raise Fault("float that may not print exactly")
            self.emit("%.8f " % x)
            self.freg.pop(12, None)
        elif op == "pbln":
            self.emit("false " if need_int(self.get(a[0])) == 0 else "true ")
        elif op == "pchr":
            c = need_int(self.get(a[0])) & 0xFF
            if not (32 <= c < 127 or c in (9, 10)):
                raise Fault("unprintable character")
            self.emit(chr(c))
        elif op == "pln":
            self.emit("\n")
        elif op == "pstr":
            v = self.get(a[0])
            if v not in self.strings:
                raise Fault("pstr of a non-string")
            self.emit(self.strings[v])
        elif op == "dbg":
            self.emit("We are at %s\n" % spim_text(a[0].text if a else ""))
        elif op == "gint":
            self.put(a[0], self.read_int())
        elif op == "gflt":
            s = self.readline(255)
            self.put(a[0], Flt.of(float(s)))
            self.freg.pop(0, None)
        elif op == "gchr":
            c = self.readchar()
            self.put(a[0], ord(c))
            self.a3 = 1 if c == "\n" else 0
        elif op == "tfl":
            self.store(self.get(a[0]), self.a3)
            self.a3 = 0
        elif op == "gstr":
            n = a[1].v if len(a) > 1 else 100
            base = self.alloc(25)
            self.strings[base] = self.readline(n - 1)
            self.put(a[0], base)
        elif op == "gbln":
            res = 0
            while True:
                c = self.readchar()
                if c in "tf":
                    break
            want = "alse" if c == "f" else "rue"
            if c == "t":
                res = 1
            for ch in want:
                if self.readchar() != ch:
                    self.emit(BADIPBL)
                    break
            self.read_int()
            self.put(a[0], res)
        else:
            raise Fault("unknown opcode %s" % op)
        return None


# ----------------------------------------------------------------------------
# Spelling

ALIASES = ["$t1", "$t2", "$t3", "$t4", "$t5", "$t6", "$t7",
           "$s0", "$s1", "$s2", "$s3", "$s4", "$s5", "$s6"]
SAFE_FREGS = [6, 8, 10, 14, 16, 18, 20, 22, 24, 26, 28, 30, 7, 9, 11]
COMMENT_WORDS = ["loop", "count", "the", "sum", "i := i + 1", "r1", "x", "value", "of",
                 "call", "\"quoted\"", "a // b", "it's", "#", "$v0", "50%", "Main",
                 "L12", "str", "end", "note:", "(x, y)", "'c'", "\"", "//", "tab\there",
                 "a\"b\"c", "{}", "result", "-> rr", "k*2", "x/y", "rtn 1",
                 "page\x0cfeed", "v\x0btab", "del\x7f", "bell\x07", "esc\x1b[0m", "cr\rhere"]
# Comment text in UTF-8, as a compiler that copies its source into comments
# writes it: accents, the euro sign, Japanese, an emoji, a no-break space, a
# byte-order mark and a zero-width space inside a word.
UTF8_WORDS = ["caf\u00e9", "na\u00efve", "\u20ac5", "\u65e5\u672c", "\u65e5\u672c\u8a9e\u306e\u30b3\u30e1\u30f3\u30c8",
              "\U0001f600", "\u00dcn\u00efc\u00f6d\u00e9", "x \u2264 y", "\u2192 rr", "stra\u00dfe", "se\u00f1al",
              "a\u00a0b", "\u03a9mega", "\ufeffmark", "zero\u200bwidth", "\u00e9:"]
OPCODE_LABELS = ["end", "pint", "str", "var", "cal", "ntr", "rtn", "sto", "val", "mov",
                 "cst", "bra", "brf", "psh", "dbg", "pln", "ltn", "sel", "ndx", "tfl"]
LIT_CHARS = ("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
             "   .,;:!?-+*=()[]{}<>#%&|~^'_@$`\t")
RESERVED = {"main", "heap", "true", "false", "blk", "str2", "new_line", "ENDIT", "ENDIT1",
            "_var_", "_var_1", "_var_2", "lblow", "lbhi", "badipbl", "b", "j", "la", "li",
            "lw", "sw", "add", "sub", "mul", "div", "rem", "neg", "and", "or", "not", "nop",
            "move", "jal", "jr", "beq", "bne", "blt", "bgt", "ble", "bge", "beqz", "abs",
            "xor", "nor", "sll", "srl", "sra", "mfc1", "mtc1", "lb", "sb", "seq", "sne",
            "slt", "sgt", "sge", "sle", "ori", "andi", "addi", "addu", "subu", "lui"}


class Writer:
    """Chooses the spelling of each line."""

    def __init__(self, r):
        self.r = r

    def reg(self, a):
        r = self.r
        x = r.random()
        if a.i == "rr":
            if x < 0.7:
                return "rr"
            return r.choice(["RR", "Rr", "rR", "$v0", "$2"])
        if x < 0.72:
            return "r%d" % a.i
        if x < 0.82:
            return "R%d" % a.i
        if x < 0.92:
            return "$%d" % (a.i + 9)
        if x < 0.97:
            return ALIASES[a.i]
        return "r0%d" % a.i if a.i < 10 else "r%d" % a.i

    def freg(self, a):
        r = self.r
        x = r.random()
        if x < 0.6:
            return "fp%d" % a.n
        if x < 0.8:
            return "$f%d" % a.n
        return r.choice(["FP", "Fp", "fP"]) + str(a.n)

    def operand(self, a):
        if isinstance(a, Reg):
            return self.reg(a)
        if isinstance(a, FReg):
            return self.freg(a)
        if isinstance(a, Imm):
            return a.text
        return a.name

    def sep(self):
        r = self.r
        x = r.random()
        if x < 0.55:
            return ", "
        if x < 0.75:
            return r.choice([",", " ", "\t"])
        return "".join(r.choice(" ,\t") for _ in range(r.randrange(1, 4)))

    def comment_text(self):
        r = self.r
        return " " + " ".join(r.choice(UTF8_WORDS if r.random() < 0.3 else COMMENT_WORDS)
                              for _ in range(r.randrange(0, 5)))

    def line(self, ins, plain=False):
        """The text of one line, without its line break.  Most lines are
        written the usual way; some get odd separators and spacing."""
        r = self.r
        if ins.raw is not None:
            return ins.raw
        odd = not plain and r.random() < 0.2
        s = ""
        if ins.label is not None:
            pre = r.choice([" ", "\t", "  ", ",", " ,\t"]) if odd and r.random() < 0.3 else ""
            colon = r.choice([" :", "\t:", ",:", " , :", "\r:"]) if odd and r.random() < 0.15 else ":"
            s += pre + ins.label + colon
            if ins.op:
                s += r.choice([" ", "", "  ", "\t\t", ", ", ","]) if odd else "\t"
        elif ins.op:
            s += r.choice(["", " ", "    ", "\t\t", " \t", ",", "\t,"]) if odd else "\t"
        if ins.op:
            s += ins.op
            if ins.args:
                s += r.choice(["\t", "  ", " ,", ",", "\t ", ", "]) if odd else " "
                parts = [self.operand(a) for a in ins.args]
                for k, p in enumerate(parts):
                    s += p
                    if k + 1 < len(parts):
                        s += self.sep() if odd else ", "
        if ins.lit is not None:
            s += r.choice(["\t", "  ", ", ", ","]) if odd else " "
            s += '"' + ins.lit + '"'
        if odd and ins.op and r.random() < 0.3:
            s += r.choice([" ", "\t", ",", " ,"])      # trailing separators
        if ins.comment is not None:
            s += ("\t" if s else "") + "//" + ins.comment
        elif not plain and r.random() < 0.12:
            s += r.choice(["\t", " ", "\t\t", "", "  "]) + "//" + self.comment_text()
        return s


# ----------------------------------------------------------------------------
# The builder


class Proc:
    def __init__(self, name, level, parent, nargs, nlocals, returns, kind="plain"):
        self.name, self.level, self.parent = name, level, parent
        self.nargs, self.nlocals, self.returns = nargs, nlocals, returns
        self.kind = kind
        self.children = []
        self.rank = 0
        self.argkinds = ["i"] * nargs


class Ctx:
    """What the builder knows inside one procedure body."""

    def __init__(self, proc, top):
        self.proc = proc
        self.kinds = {i: None for i in range(14)}
        self.kinds["rr"] = None
        self.top = top          # straight-line code of the main constructor
        self.loop_depth = 0
        self.reserved = set()


class Builder:
    def __init__(self, seed, attempt):
        self.seed = seed
        self.r = random.Random("%d/%d" % (seed, attempt))
        self.names = set(RESERVED)
        self.input = []
        self.code = []
        self.strings_late = []   # str lines placed between procedures
        self.fields = 0
        self.pending_label = None
        self.top_starts = []

    # -- names
    def fresh(self, style=None, letter=True):
        r = self.r
        for _ in range(1000):
            k = r.randrange(1000)
            st = style or r.choice(["word", "word", "word", "dot", "dollar", "reg", "under",
                                    "opcode", "digits", "internal"])
            if st == "word":
                n = r.choice(["Loop", "Done", "Next", "Else", "Top", "Exit", "L", "again",
                              "skip", "Then", "endif", "while", "W"]) + str(k)
            elif st == "dot":
                n = r.choice([".L%d", "x.%d", "a.b%d", "L%d.end", "Z.%d.q", ".Lab%d"]) % k
            elif st == "dollar":
                n = r.choice(["$L%d", "$x%d", "$a.b%d", "$Q_%d"]) % k
            elif st == "reg":
                n = r.choice(["r%d" % (k % 14), "R%d" % (k % 14), "rr", "RR", "fp%d" % (k % 32),
                              "FP%d" % (k % 32), "r%d" % (k % 100), "v0", "ra", "t%d" % (k % 10)])
            elif st == "under":
                n = r.choice(["_%d", "_x%d", "a_%d_b", "__y%d", "q_%d"]) % k
            elif st == "opcode":
                n = r.choice(OPCODE_LABELS)
            elif st == "internal":
                # Named like the translator's own labels (_ML and a number),
                # but with a leading zero or a number no program here reaches.
                n = r.choice(["_ML0%d" % k, "_ML%d" % (k + 10 ** 7), "_ML%dx" % k, "_ml%d" % k])
            else:
                n = r.choice(["_%d", "._%d", "_.%d"]) % k if not letter else "K%d" % k
            if n in self.names:
                continue
            if letter and not any(c.isalpha() for c in n):
                continue
            self.names.add(n)
            return n
        raise Fault("out of names")

    def proc_name(self):
        r = self.r
        if r.random() < 0.7:
            return self._pname()
        return self.fresh(r.choice(["dollar", "reg", "dot", "under", "opcode"]))

    def _pname(self):
        r = self.r
        for _ in range(1000):
            n = r.choice(["Fact", "Sum", "Proc", "do_it", "Calc", "Show", "get", "Max", "P",
                          "Twice", "Walk", "f", "Inner", "Helper"]) + str(r.randrange(100))
            if n not in self.names:
                self.names.add(n)
                return n
        raise Fault("out of names")

    # -- emission
    def emit(self, op=None, args=(), label=None, lit=None):
        if self.pending_label is not None:
            if label is None and op is not None:
                label = self.pending_label
            else:
                self.code.append(Ins(label=self.pending_label))
            self.pending_label = None
        ins = Ins(op, args, label, lit)
        self.code.append(ins)
        return ins

    def raw(self, text):
        if self.pending_label is not None:
            self.code.append(Ins(label=self.pending_label))
            self.pending_label = None
        self.code.append(Ins(raw=text))

    def imm(self, v):
        """An integer literal in one of the spellings SPIM's li/la and the
        immediate forms take."""
        r = self.r
        x = r.random()
        if 0 <= v <= 255 and x < 0.12:
            return Imm(v, "0x%x" % v if r.random() < 0.5 else "0x%X" % v)
        if -255 <= v < 0 and x < 0.06:
            return Imm(v, "-0x%x" % -v)
        if 33 <= v < 127 and chr(v) not in "' \\,\t\"#/:;" and x < 0.2:
            return Imm(v, "'%s'" % chr(v))
        return Imm(v)

    def pick_reg(self, ctx, avoid=()):
        free = [i for i in range(14) if i not in ctx.reserved and i not in avoid]
        return self.r.choice(free)

    def regs_of(self, ctx, kind):
        return [i for i in range(14) if ctx.kinds[i] == kind and i not in ctx.reserved]

    def set_kind(self, ctx, i, k):
        ctx.kinds[i] = k

    def console(self, ctx):
        ctx.kinds["rr"] = None

    # -- snippets ------------------------------------------------------------
    def sn_arith(self, ctx):
        r = self.r
        a = self.pick_reg(ctx)
        b = self.pick_reg(ctx, (a,))
        ints = self.regs_of(ctx, "i")
        if ints and not ctx.loop_depth and r.random() < 0.4:
            a = r.choice(ints)
            b = self.pick_reg(ctx, (a,))
        else:
            self.emit("cst", [self.imm(r.randrange(-50, 100)), Reg(a)])
        self.emit("cst", [self.imm(r.randrange(-60, 200)), Reg(b)])
        self.set_kind(ctx, a, "i")
        self.set_kind(ctx, b, "i")
        for _ in range(r.randrange(1, 4)):
            op = r.choice(["add", "sub", "mul", "div", "rem", "and", "or", "add", "sub",
                           "neg", "not", "mov"])
            if op in ("neg", "not"):
                self.emit(op, [Reg(b)])
                continue
            if op == "mov":
                c = self.pick_reg(ctx, (a, b))
                self.emit("mov", [Reg(b), Reg(c)])
                self.set_kind(ctx, c, "i")
                b = c
                continue
            if op in ("div", "rem"):
                d = r.choice([1, 2, 3, 5, 7, -3, 10, -1])
                if r.random() < 0.5:
                    self.emit(op, [self.imm(d), Reg(b)])
                else:
                    self.emit("cst", [self.imm(d), Reg(a)])
                    self.emit(op, [Reg(a), Reg(b)])
                continue
            if op == "mul" and r.random() < 0.6:
                self.emit(op, [self.imm(r.randrange(-9, 10)), Reg(b)])
                continue
            if r.random() < 0.35:
                self.emit(op, [self.imm(r.randrange(-300, 1000)), Reg(b)])
            else:
                self.emit(op, [Reg(a), Reg(b)])
        self.emit(r.choice(["pint", "pint", "pint", "pbln"]), [Reg(b)])
        self.console(ctx)

    def cond(self, ctx, dst):
        """Leaves 0 or 1 in register dst."""
        r = self.r
        a = self.pick_reg(ctx, (dst,))
        self.emit("cst", [self.imm(r.randrange(-5, 6)), Reg(dst)])
        op = r.choice(["ltn", "leq", "gtr", "geq", "eql", "neq"])
        if op != "eql" and r.random() < 0.4:
            self.emit(op, [self.imm(r.randrange(-5, 6)), Reg(dst)])
        else:
            self.emit("cst", [self.imm(r.randrange(-5, 6)), Reg(a)])
            self.set_kind(ctx, a, "i")
            self.emit(op, [Reg(a), Reg(dst)])
        if r.random() < 0.25:
            b = self.pick_reg(ctx, (dst, a))
            self.emit("cst", [Imm(r.randrange(2)), Reg(b)])
            self.set_kind(ctx, b, "i")
            self.emit(r.choice(["and", "or"]), [Reg(b), Reg(dst)])
        if r.random() < 0.2:
            self.emit("not", [Reg(dst)])
        self.set_kind(ctx, dst, "i")

    def sn_compare(self, ctx):
        c = self.pick_reg(ctx)
        self.cond(ctx, c)
        self.emit(self.r.choice(["pint", "pbln"]), [Reg(c)])
        self.console(ctx)

    def sn_if(self, ctx, depth):
        r = self.r
        c = self.pick_reg(ctx)
        self.cond(ctx, c)
        els, join = self.fresh(letter=False), self.fresh(letter=False)
        self.emit("brf", [Reg(c), Lab(els)])
        before = dict(ctx.kinds)
        self.block(ctx, depth + 1, r.randrange(1, 3))
        after_then = dict(ctx.kinds)
        ctx.kinds = dict(before)
        has_else = r.random() < 0.6
        if has_else:
            self.emit("bra", [Lab(join)])
            self.label_here(els)
            self.block(ctx, depth + 1, r.randrange(1, 3))
            self.label_here(join)
        else:
            self.label_here(els)
        ctx.kinds = {k: (v if after_then.get(k) == v else None) for k, v in ctx.kinds.items()}

    def label_here(self, name):
        r = self.r
        if self.pending_label is not None:
            self.code.append(Ins(label=self.pending_label))
            self.pending_label = None
        if r.random() < 0.5:
            self.emit(label=name)
        else:
            self.pending_label = name

    def sn_loop(self, ctx, depth):
        r = self.r
        n = r.randrange(1, 5)
        cnt = self.pick_reg(ctx)
        ctx.reserved.add(cnt)
        acc = self.pick_reg(ctx)
        ctx.reserved.add(acc)
        tmp = self.pick_reg(ctx)
        ctx.reserved.add(tmp)
        self.emit("cst", [self.imm(n), Reg(cnt)])
        self.emit("cst", [Imm(0), Reg(acc)])
        top, done = self.fresh(letter=False), self.fresh(letter=False)
        ctx.loop_depth += 1
        if r.random() < 0.5:
            # test at the top
            self.label_here(top)
            self.emit("mov", [Reg(cnt), Reg(tmp)])
            self.emit("gtr", [Imm(0), Reg(tmp)])
            self.emit("brf", [Reg(tmp), Lab(done)])
            self.block(ctx, depth + 1, r.randrange(1, 3))
            self.emit("add", [Reg(cnt), Reg(acc)])
            self.emit("sub", [self.imm(1), Reg(cnt)])
            self.emit("bra", [Lab(top)])
            self.label_here(done)
        else:
            # test at the bottom
            self.label_here(top)
            self.block(ctx, depth + 1, r.randrange(1, 3))
            self.emit("add", [Reg(cnt), Reg(acc)])
            self.emit("cst", [Imm(1), Reg(tmp)])
            self.emit("sub", [Reg(tmp), Reg(cnt)])
            self.emit("mov", [Reg(cnt), Reg(tmp)])
            if r.random() < 0.5:
                self.emit("neq", [Imm(0), Reg(tmp)])
                self.emit("brf", [Reg(tmp), Lab(done)])
                self.emit("bra", [Lab(top)])
                self.label_here(done)
            else:
                self.emit("leq", [Imm(0), Reg(tmp)])
                self.emit("brf", [Reg(tmp), Lab(top)])
        ctx.loop_depth -= 1
        ctx.reserved -= {cnt, acc, tmp}
        ctx.kinds[cnt] = ctx.kinds[acc] = ctx.kinds[tmp] = "i"
        self.emit("pint", [Reg(acc)])
        self.console(ctx)

    def sn_string(self, ctx):
        r = self.r
        name = self.fresh(r.choice(["word", "dot", "dollar", "reg", "under", "opcode"]))
        lit = self.literal()
        a = self.pick_reg(ctx)
        where = r.random()
        if where < 0.6:
            self.emit("str", [Lab(name)], lit=lit, label=self.maybe_label())
            self.emit("cst", [Lab(name), Reg(a)])
        else:
            # used before the line that defines it
            self.emit("cst", [Lab(name), Reg(a)])
            self.strings_late.append(Ins("str", [Lab(name)], lit=lit))
        self.emit("pstr", [Reg(a)])
        self.set_kind(ctx, a, "s")
        self.console(ctx)

    def maybe_label(self):
        return self.fresh(letter=False) if self.r.random() < 0.1 else None

    def literal(self):
        r = self.r
        s = ""
        for _ in range(r.randrange(0, 22)):
            x = r.random()
            if x < 0.1:
                s += r.choice(["\\n", "\\t", "\\\""])
            elif x < 0.12:
                s += r.choice(["\\q", "\\\\x", "\\%"])
            else:
                s += r.choice(LIT_CHARS)
        while "//" in s:
            s = s.replace("//", "/")
        if s.endswith("\\") or s.endswith("/"):
            s += "."
        if r.random() < 0.3:
            s += "\\n"
        return s

    def sn_chars(self, ctx):
        r = self.r
        a = self.pick_reg(ctx)
        ch = r.choice("abcxyzABCXYZ019#!?*+=.;")
        self.emit("cst", [Imm(ord(ch), "'%s'" % ch if r.random() < 0.6 else str(ord(ch))), Reg(a)])
        self.set_kind(ctx, a, "i")
        self.emit("pchr", [Reg(a)])
        if r.random() < 0.5:
            self.emit("add", [self.imm(1), Reg(a)])
            self.emit("pchr", [Reg(a)])
        if r.random() < 0.3:
            self.emit("cst", [self.imm(10), Reg(a)])
            self.emit("pchr", [Reg(a)])
        self.console(ctx)

    def sn_float(self, ctx):
        r = self.r
        a = self.pick_reg(ctx)
        b = self.pick_reg(ctx, (a,))
        self.emit("cstf", [self.flit(), Reg(a)])
        self.emit("cstf", [self.flit(), Reg(b)])
        self.set_kind(ctx, a, "f")
        self.set_kind(ctx, b, "f")
        x = r.random()
        if x < 0.45:
            op = r.choice(["addf", "subf", "mulf", "divf"])
            if op == "divf":
                self.emit("cstf", [r.choice([Imm(0, "2.0"), Imm(0, "0.5"), Imm(0, "4."),
                                             Imm(0, "-2.0"), Imm(0, "0.25")]), Reg(a)])
            self.emit(op, [Reg(a), Reg(b)])
            if r.random() < 0.3:
                self.emit("negf", [Reg(b)])
            self.emit("pflt", [Reg(b)])
        elif x < 0.8:
            op = r.choice(["ltnf", "leqf", "gtrf", "geqf", "eqlf", "neqf"])
            if r.random() < 0.3:
                self.emit("mov", [Reg(a), Reg(b)])
            self.emit(op, [Reg(a), Reg(b)])
            self.set_kind(ctx, b, "i")
            self.emit(r.choice(["pint", "pbln"]), [Reg(b)])
        else:
            # through memory into a float register, pushed and taken back
            self.float_through_memory(ctx, a)
        self.console(ctx)

    def float_through_memory(self, ctx, a):
        r = self.r
        p = self.pick_reg(ctx, (a,))
        n = self.pick_reg(ctx, (a, p))
        self.emit("cst", [Imm(1), Reg(n)])
        self.emit("alc", [Reg(n), Reg(p)])
        self.emit("sto", [Reg(a), Reg(p)])
        f = FReg(r.choice(SAFE_FREGS))
        self.emit("valf", [Reg(p), f])
        self.emit("pflt", [Reg(a)])
        self.set_kind(ctx, n, "i")
        self.set_kind(ctx, p, "a")

    def flit(self):
        r = self.r
        k = r.randrange(-160, 161)
        v = k / 8.0
        forms = ["%r" % v]
        if v == int(v):
            forms.append("%d." % v)
            forms.append("%d.0" % v)
            if v != 0 and abs(v) >= 10 and int(v) % 10 == 0:
                forms.append("%se1" % (v / 10.0))
        else:
            forms.append(("%.3f" % v))
        t = r.choice(forms)
        if "e" in t and "." not in t.split("e")[0]:
            t = "%r" % v
        return Imm(0, t)

    def sn_memory(self, ctx):
        """An array on the heap, filled and read through ndx, sel, sto and val."""
        r = self.r
        n = r.randrange(2, 6)
        size = r.choice([1, 1, 2])
        lb = r.randrange(-2, 3)
        cnt, base, ptr, idx, val = [self.pick_reg(ctx) for _ in range(5)]
        regs = list(dict.fromkeys([cnt, base, ptr, idx, val]))
        if len(regs) < 5:
            avail = [i for i in range(14) if i not in ctx.reserved]
            r.shuffle(avail)
            cnt, base, ptr, idx, val = avail[:5]
        self.emit("cst", [Imm(n * size), Reg(cnt)])
        self.emit("alc", [Reg(cnt), Reg(base)])
        for i in range(n):
            self.emit("cst", [self.imm(r.randrange(-20, 50)), Reg(val)])
            self.emit("mov", [Reg(base), Reg(ptr)])
            self.emit("cst", [Imm(lb + i), Reg(idx)])
            self.emit("ndx", [Reg(idx), Imm(lb), Imm(size), Reg(ptr)])
            if size == 2 and r.random() < 0.5:
                self.emit("sto", [Reg(val), Reg(ptr)])
                self.emit("sel", [Imm(1), Reg(ptr)])
            self.emit("sto", [Reg(val), Reg(ptr)])
        for _ in range(r.randrange(1, 3)):
            i = r.randrange(n)
            self.emit("mov", [Reg(base), Reg(ptr)])
            if size == 1 and r.random() < 0.4:
                self.emit("sel", [Imm(i), Reg(ptr)])
            else:
                self.emit("cst", [Imm(lb + i), Reg(idx)])
                self.emit("ndx", [Reg(idx), Imm(lb), Imm(size), Reg(ptr)])
                if size == 2:
                    self.emit("sel", [Imm(1), Reg(ptr)])
            self.emit("val", [Reg(ptr)])
            self.emit("pint", [Reg(ptr)])
        for k, kd in ((cnt, "i"), (base, "a"), (ptr, "i"), (idx, "i"), (val, "i")):
            self.set_kind(ctx, k, kd)
        self.console(ctx)

    def sn_locals(self, ctx):
        """Reads or writes a variable of this procedure or of one around it."""
        r = self.r
        p = ctx.proc
        chain = []
        q, d = p, 0
        while q is not None:
            chain.append((q, d))
            q, d = q.parent, d + 1
        q, d = r.choice(chain)
        choices = [2 + k for k in range(q.nlocals)]
        choices += [-16 - k for k in range(q.nargs) if q.argkinds[k] == "i"]
        if not choices:
            return self.sn_arith(ctx)
        disp = r.choice(choices)
        a = self.pick_reg(ctx)
        self.emit("var", [Imm(d), Imm(disp), Reg(a)])
        ctx.kinds["rr"] = None
        if disp == -16 and q.kind == "main":
            # the main object: print one of its fields
            self.emit("val", [Reg(a)])
            self.emit("sel", [Imm(r.randrange(1, self.fields + 1)), Reg(a)])
            self.emit("val", [Reg(a)])
            self.emit("pint", [Reg(a)])
            self.set_kind(ctx, a, "i")
            self.console(ctx)
            return
        if disp > 0 and r.random() < 0.5 and not ctx.loop_depth:
            b = self.pick_reg(ctx, (a,))
            self.emit("cst", [self.imm(r.randrange(-99, 100)), Reg(b)])
            self.emit("sto", [Reg(b), Reg(a)])
            self.set_kind(ctx, b, "i")
            self.set_kind(ctx, a, "a")
            return
        self.emit("val", [Reg(a)])
        self.set_kind(ctx, a, "i")
        self.emit("pint", [Reg(a)])
        self.console(ctx)

    def visible(self, p):
        """Procedures p may call, with the display distance of the call."""
        out = []
        scope = p
        while scope is not None:
            for c in scope.children:
                if c.rank > p.rank and c.kind != "method":
                    out.append((c, p.level - c.level))
            scope = scope.parent
        return out

    def sn_call(self, ctx):
        r = self.r
        cands = self.visible(ctx.proc)
        if not cands or self.calls_left <= 0:
            return self.sn_arith(ctx)
        self.calls_left -= 1
        q, dist = r.choice(cands)
        self.call(ctx, q, dist)

    def push_args(self, ctx, q):
        r = self.r
        for k in reversed(range(q.nargs)):     # arg k=0 is the last pushed
            kind = q.argkinds[k]
            a = self.pick_reg(ctx)
            if kind == "f":
                self.emit("cstf", [self.flit(), Reg(a)])
                if r.random() < 0.5:
                    self.emit("psh", [Reg(a)])
                else:
                    p = self.pick_reg(ctx, (a,))
                    n = self.pick_reg(ctx, (a, p))
                    self.emit("cst", [Imm(1), Reg(n)])
                    self.emit("alc", [Reg(n), Reg(p)])
                    self.emit("sto", [Reg(a), Reg(p)])
                    f = FReg(r.choice(SAFE_FREGS))
                    self.emit("valf", [Reg(p), f])
                    self.emit("pshf", [f])
                    self.set_kind(ctx, n, "i")
                    self.set_kind(ctx, p, "a")
                self.set_kind(ctx, a, "f")
            else:
                ints = self.regs_of(ctx, "i")
                if ints and not ctx.loop_depth and r.random() < 0.3:
                    self.emit("psh", [Reg(r.choice(ints))])
                else:
                    self.emit("cst", [self.imm(r.randrange(-9, 13)), Reg(a)])
                    self.set_kind(ctx, a, "i")
                    self.emit("psh", [Reg(a)])

    def call(self, ctx, q, dist):
        r = self.r
        how = r.random()
        k = self.pick_reg(ctx)
        if how < 0.3:
            self.emit("cst", [Lab(q.name), Reg(k)])
            self.set_kind(ctx, k, "c")
            ctx.reserved.add(k)
            self.push_args(ctx, q)
            ctx.reserved.discard(k)
            self.emit("cal", [Imm(dist), Reg(k)])
        elif how < 0.8:
            self.push_args(ctx, q)
            k = self.pick_reg(ctx)
            self.emit("cst", [Lab(q.name), Reg(k)])
            self.set_kind(ctx, k, "c")
            self.emit("cal", [Imm(dist), Reg(k)])
        else:
            self.push_args(ctx, q)
            if looks_mapped(q.name):
                k = self.pick_reg(ctx)
                self.emit("cst", [Lab(q.name), Reg(k)])
                self.set_kind(ctx, k, "c")
                self.emit("cal", [Imm(dist), Reg(k)])
            else:
                self.emit("cal", [Imm(dist), Lab(q.name)])
        ctx.kinds["rr"] = "i" if q.returns else None
        self.after_call(ctx, q)

    def after_call(self, ctx, q):
        r = self.r
        if not q.returns:
            return
        x = r.random()
        if x < 0.5:
            self.emit("pint", [Reg("rr")])
            self.console(ctx)
        elif x < 0.8:
            a = self.pick_reg(ctx)
            self.emit("mov", [Reg("rr"), Reg(a)])
            self.set_kind(ctx, a, "i")
            if r.random() < 0.5:
                self.emit("add", [self.imm(r.randrange(-5, 6)), Reg(a)])
            self.emit("pint", [Reg(a)])
            self.console(ctx)

    def sn_method(self, ctx):
        """obj.m(): the method's address from the object's class table."""
        r = self.r
        if not self.method_slots or self.calls_left <= 0:
            return self.sn_arith(ctx)
        self.calls_left -= 1
        p = ctx.proc
        # the main object, reached from here through the static links
        d = p.level
        o, t = self.pick_reg(ctx), None
        self.emit("var", [Imm(d), Imm(-16), Reg(o)])
        self.emit("val", [Reg(o)])
        if r.random() < 0.4 and self.class_names:
            # or a fresh object of some class on the heap
            c = r.choice(self.class_names)
            n = self.pick_reg(ctx, (o,))
            self.emit("cst", [Imm(1 + self.fields), Reg(n)])
            self.emit("alc", [Reg(n), Reg(o)])
            self.emit("cst", [Lab(c), Reg(n)])
            self.emit("sto", [Reg(n), Reg(o)])
            for f in range(1, self.fields + 1):
                self.emit("mov", [Reg(o), Reg(n)])
                self.emit("sel", [Imm(f), Reg(n)])
                v = self.pick_reg(ctx, (o, n))
                self.emit("cst", [self.imm(r.randrange(-9, 30)), Reg(v)])
                self.emit("sto", [Reg(v), Reg(n)])
                self.set_kind(ctx, v, "i")
            self.set_kind(ctx, n, "a")
        slot, returns = r.choice(self.method_slots)
        t = self.pick_reg(ctx, (o,))
        self.emit("mov", [Reg(o), Reg(t)])
        self.emit("val", [Reg(t)])
        if r.random() < 0.5:
            self.emit("sel", [Imm(slot), Reg(t)])
        else:
            self.emit("add", [self.imm(4 * slot), Reg(t)])
        self.emit("val", [Reg(t)])
        self.emit("psh", [Reg(o)])
        self.emit("cal", [Imm(p.level - 1), Reg(t)])
        self.set_kind(ctx, o, "a")
        self.set_kind(ctx, t, "c")
        ctx.kinds["rr"] = "i" if returns else None
        if returns:
            self.emit("pint", [Reg("rr")])
            self.console(ctx)

    def sn_dbg(self, ctx):
        r = self.r
        if r.random() < 0.1:
            self.emit("dbg")
        else:
            self.emit("dbg", [Imm(0, r.choice(["here", "loop", "P1", "x.y", "a#b", "100%",
                                                  "a;b", "end", "'q'", "(1)", "{", "1.5",
                                                  "step_2", "r1", "A-B", "L7"]))])
        self.console(ctx)

    def sn_pln(self, ctx):
        self.emit("pln")
        self.console(ctx)

    def sn_input(self, ctx):
        r = self.r
        a = self.pick_reg(ctx)
        x = r.random()
        if x < 0.25:
            v = r.randrange(-500, 500)
            self.input.append(r.choice(["%d\n", "  %d\n", "%d apples\n", "\t%d\n"]) % v)
            self.emit("gint", [Reg(a)])
            self.set_kind(ctx, a, "i")
            self.emit("pint", [Reg(a)])
        elif x < 0.4:
            v = r.randrange(-400, 400) / 8.0
            self.input.append("%r\n" % v)
            self.emit("gflt", [Reg(a)])
            self.set_kind(ctx, a, "f")
            self.emit("pflt", [Reg(a)])
        elif x < 0.6:
            self.input.append(r.choice(["true\n", "false\n", "  true\n", "\tfalse\n",
                                        "true and more\n", "x false\n"]))
            self.emit("gbln", [Reg(a)])
            self.set_kind(ctx, a, "i")
            self.emit("pbln", [Reg(a)])
        elif x < 0.8:
            word = "".join(r.choice("abcxyz019#") for _ in range(r.randrange(0, 3)))
            self.input.append(word + "\n")
            cell = self.pick_reg(ctx, (a,))
            n = self.pick_reg(ctx, (a, cell))
            self.emit("cst", [Imm(1), Reg(n)])
            self.emit("alc", [Reg(n), Reg(cell)])
            for _ in range(len(word) + 1):
                self.emit("gchr", [Reg(a)])
                self.emit("pint", [Reg(a)])
                self.emit("tfl", [Reg(cell)])
                self.emit("mov", [Reg(cell), Reg(n)])
                self.emit("val", [Reg(n)])
                self.emit("pint", [Reg(n)])
            self.set_kind(ctx, a, "i")
            self.set_kind(ctx, n, "i")
            self.set_kind(ctx, cell, "a")
        else:
            text = "".join(r.choice("abc xyz,.!?019") for _ in range(r.randrange(0, 30)))
            self.input.append(text + "\n")
            if r.random() < 0.5:
                self.emit("gstr", [Reg(a)])
            else:
                self.emit("gstr", [Reg(a), Imm(r.randrange(len(text) + 2, 101))])
            self.set_kind(ctx, a, "s")
            self.emit("pstr", [Reg(a)])
        self.console(ctx)

    # -- bodies ----------------------------------------------------------------
    def block(self, ctx, depth, n):
        r = self.r
        for _ in range(n):
            table = [(6, self.sn_arith), (4, self.sn_compare), (3, self.sn_string),
                     (2, self.sn_chars), (3, self.sn_float), (3, self.sn_locals),
                     (4, self.sn_call), (1, self.sn_dbg), (2, self.sn_pln)]
            if depth < 2:
                table += [(2, lambda c: self.sn_if(c, depth)), (2, lambda c: self.sn_loop(c, depth))]
            if not ctx.loop_depth:
                table += [(2, self.sn_memory)]
                if ctx.proc.kind == "main":
                    table += [(3, self.sn_method)]
            if ctx.top and depth == 0:
                table += [(3, self.sn_input)]
            total = sum(w for w, _ in table)
            t = r.uniform(0, total)
            for w, f in table:
                t -= w
                if t <= 0:
                    break
            f(ctx)
            if r.random() < 0.08:
                self.raw(r.choice(["", "//", "   ", "\t", "// " + Writer(r).comment_text(),
                                   "\t// a \"quoted\" // comment", "  //: not a label"]))

    def body(self, p):
        r = self.r
        ctx = Ctx(p, p.kind == "main")
        nested = [c for c in p.children if c.kind != "method"] if p.kind != "main" else []
        self.emit("ntr", [Lab(p.name), Imm(p.nlocals)], label=self.maybe_label())
        if nested:
            body = self.fresh(letter=False)
            self.emit("bra", [Lab(body)])
            for c in nested:
                self.proc_block(c)
            self.emit(label=body)
        for k in range(p.nlocals):
            a = self.pick_reg(ctx)
            self.emit("var", [Imm(0), Imm(2 + k), Reg(a)])
            b = self.pick_reg(ctx, (a,))
            self.emit("cst", [self.imm(r.randrange(-30, 90)), Reg(b)])
            self.emit("sto", [Reg(b), Reg(a)])
        if p.kind == "main":
            o = self.pick_reg(ctx)
            self.emit("var", [Imm(0), Imm(-16), Reg(o)])
            self.emit("val", [Reg(o)])
            for f in range(1, self.fields + 1):
                t = self.pick_reg(ctx, (o,))
                v = self.pick_reg(ctx, (o, t))
                self.emit("mov", [Reg(o), Reg(t)])
                self.emit("sel", [Imm(f), Reg(t)])
                self.emit("cst", [self.imm(r.randrange(-9, 40)), Reg(v)])
                self.emit("sto", [Reg(v), Reg(t)])
        ctx.kinds["rr"] = None
        if p.kind == "method":
            self.method_body(ctx)
        elif p.kind == "rec":
            self.rec_body(ctx)
        else:
            self.block(ctx, 0, r.randrange(2, 9 if p.kind == "main" else 5))
        self.finish(ctx)

    def method_body(self, ctx):
        r = self.r
        p = ctx.proc
        a = self.pick_reg(ctx)
        self.emit("var", [Imm(0), Imm(-16), Reg(a)])
        self.emit("val", [Reg(a)])
        f = r.randrange(1, self.fields + 1)
        b = self.pick_reg(ctx, (a,))
        self.emit("mov", [Reg(a), Reg(b)])
        self.emit("sel", [Imm(f), Reg(b)])
        self.emit("val", [Reg(b)])
        ctx.kinds[b] = "i"
        if r.random() < 0.5:
            # also updates the field
            c = self.pick_reg(ctx, (a, b))
            self.emit("add", [self.imm(r.randrange(1, 9)), Reg(b)])
            self.emit("mov", [Reg(a), Reg(c)])
            self.emit("sel", [Imm(f), Reg(c)])
            self.emit("sto", [Reg(b), Reg(c)])
        if r.random() < 0.5:
            # which class: compare word 0 with a table's address
            c = self.pick_reg(ctx, (a, b))
            t = self.pick_reg(ctx, (a, b, c))
            self.emit("mov", [Reg(a), Reg(c)])
            self.emit("val", [Reg(c)])
            self.emit("cst", [Lab(r.choice(self.class_names)), Reg(t)])
            self.emit("eql", [Reg(t), Reg(c)])
            self.emit("pbln", [Reg(c)])
        self.block(ctx, 1, r.randrange(0, 2))
        self.emit("pint", [Reg(b)])
        ctx.kinds[b] = "i"
        ctx.result = b

    def rec_body(self, ctx):
        """f(n) = base when n <= 1, else n op f(n - 1): called with a small n."""
        r = self.r
        p = ctx.proc
        n, one, t = r.sample(range(14), 3)
        self.emit("var", [Imm(0), Imm(-16), Reg(n)])
        self.emit("val", [Reg(n)])
        self.emit("cst", [Imm(1), Reg(one)])
        self.emit("mov", [Reg(n), Reg(t)])
        self.emit("leq", [Reg(one), Reg(t)])
        rec = self.fresh(letter=False)
        self.emit("brf", [Reg(t), Lab(rec)])
        self.emit("cst", [self.imm(r.randrange(1, 4)), Reg(t)])
        self.emit("rtn", [Reg(t), Imm(1)])
        self.emit("mov", [Reg(n), Reg(t)], label=rec)
        self.emit("sub", [Reg(one), Reg(t)])
        self.emit("psh", [Reg(t)])
        if r.random() < 0.5 and not looks_mapped(p.name):
            self.emit("cal", [Imm(0), Lab(p.name)])
        else:
            k = r.choice([x for x in range(14) if x not in (n, one, t)])
            self.emit("cst", [Lab(p.name), Reg(k)])
            self.emit("cal", [Imm(0), Reg(k)])
        self.emit(r.choice(["add", "mul", "sub"]), [Reg(n), Reg("rr")])
        ctx.kinds["rr"] = "i"
        ctx.result = "rr"

    def finish(self, ctx):
        r = self.r
        p = ctx.proc
        res = getattr(ctx, "result", None)
        if p.returns:
            if res is None:
                ints = self.regs_of(ctx, "i")
                if ints and r.random() < 0.7:
                    res = r.choice(ints)
                else:
                    res = self.pick_reg(ctx)
                    self.emit("cst", [self.imm(r.randrange(-20, 50)), Reg(res)])
            lab = self.maybe_label()
            self.emit("rtn", [Reg(res), Imm(p.nargs)], label=lab)
        else:
            self.emit("rtn", [Imm(p.nargs)], label=self.maybe_label())

    def proc_block(self, p):
        r = self.r
        if r.random() < 0.3:
            self.raw(r.choice(["//", "", "// " + p.name + "(" + ", ".join("a%d" % i for i in range(p.nargs)) + ")"]))
        self.body(p)

    # -- the program -------------------------------------------------------------
    def build(self):
        r = self.r
        self.fields = r.randrange(1, 4)
        self.calls_left = 12
        main = Proc(self.fresh(r.choice(["word", "dollar", "reg"])) if r.random() < 0.2
                    else self._main_name(), 0, None, 1, r.randrange(0, 4), False, "main")
        self.main = main
        procs = []
        # methods (level 1) for the class tables
        nslots = r.randrange(0, 4)
        self.method_slots = []
        methods_by_slot = []
        for s in range(1, nslots + 1):
            returns = r.random() < 0.6
            ms = []
            for _ in range(r.randrange(1, 3)):
                m = Proc(self.proc_name(), 1, main, 1, r.randrange(0, 2), returns, "method")
                ms.append(m)
                procs.append(m)
            methods_by_slot.append(ms)
            self.method_slots.append((s, returns))
        # plain and recursive procedures, some nested inside others
        for _ in range(r.randrange(0, 6)):
            parents = [main] + [q for q in procs if q.kind == "plain" and q.level < 3]
            par = r.choice(parents) if r.random() < 0.5 else main
            kind = "rec" if r.random() < 0.15 else "plain"
            nargs = 1 if kind == "rec" else r.randrange(0, 4)
            q = Proc(self.proc_name(), par.level + 1, par, nargs, r.randrange(0, 3),
                     kind == "rec" or r.random() < 0.6, kind)
            if kind == "plain":
                q.argkinds = ["f" if r.random() < 0.15 else "i" for _ in range(nargs)]
            procs.append(q)
        for q in procs:
            q.parent.children.append(q)
        order = list(procs)
        r.shuffle(order)
        for i, q in enumerate(order):
            q.rank = i + 1
        main.rank = 0
        # class tables
        ncls = r.randrange(1, 4)
        classes = []
        for i in range(ncls):
            c = self.fresh(r.choice(["word", "dollar", "dot", "reg"]))
            sup = classes[r.randrange(i)] if i and r.random() < 0.7 else None
            slots = []
            for ms in methods_by_slot:
                slots.append(r.choice(ms))
            classes.append(c)
            self.emit("cls", [Lab(c), Lab(sup) if sup else (Lab(c) if r.random() < 0.5 else Imm(0))])
            for m in slots:
                self.emit("mth", [Lab(m.name)])
            if r.random() < 0.3:
                self.emit("mth", [Imm(0)])
        self.class_names = classes
        if r.random() < 0.5:
            self.raw(r.choice(["//", "", "// procedures", "\t"]))
        self.classes = classes
        # top-level procedures, Main among them, in any order (calls go both ways)
        tops = [q for q in procs if q.parent is main] + [main]
        r.shuffle(tops)
        for q in tops:
            self.top_starts.append(len(self.code))
            if q is main:
                self.body_main(main)
            else:
                self.proc_block(q)
            if self.strings_late and r.random() < 0.5:
                self.code.append(self.strings_late.pop())
        while self.strings_late:
            self.code.append(self.strings_late.pop())
        self.end = (1 + self.fields, r.choice(classes), main.name)
        self.end_ins = Ins("end", [Imm(1 + self.fields), Lab(self.end[1]), Lab(main.name)])

    def _main_name(self):
        r = self.r
        for _ in range(100):
            n = r.choice(["Main", "K0", "Start", "Program", "Init"]) + (str(r.randrange(10)) if r.random() < 0.5 else "")
            if n not in self.names:
                self.names.add(n)
                return n
        raise Fault("out of names")

    def body_main(self, p):
        if self.r.random() < 0.4:
            self.raw("// the main constructor")
        self.body(p)


# ----------------------------------------------------------------------------
# Files and line layout


def looks_mapped(name):
    """A name the register mapping would rewrite in a mapped operand."""
    return name.startswith("$") or len(name) <= 4 and (
        name[0] in "rR" or name[:2].lower() == "fp")


def place_end(b):
    """Puts the end line into the code: usually last, sometimes before some
    top-level procedures (which stay reachable through calls)."""
    r = b.r
    code = b.code
    pos = len(code)
    if r.random() < 0.15 and len(b.top_starts) > 1:
        pos = r.choice(b.top_starts[1:])
    code.insert(pos, b.end_ins)
    if pos < len(code) - 1 and r.random() < 0.5:
        code.insert(pos + 1, Ins(raw="// procedures after the end line"))
    # a label nobody branches to, on a few lines of any opcode
    for k in range(1, len(code)):
        ins = code[k]
        if (ins.raw is None and ins.op not in (None, "mth") and ins.label is None
                and r.random() < 0.04):
            ins.label = b.fresh(letter=False)
    # a label on the line that closes a class table would land in .data
    k = 1
    while k < len(code):
        if code[k - 1].op in ("cls", "mth") and code[k].op != "mth" and code[k].label is not None:
            code.insert(k, Ins(raw=r.choice(["//", "", "// end of the table"])))
        k += 1


def render(b, seed):
    """Writes the files: a list of byte strings, and the code as the machine
    sees it (in file order)."""
    r = b.r
    w = Writer(r)
    code = b.code
    # comments on some lines; a label on some lines that have none
    for k, ins in enumerate(code):
        if ins.raw is None and ins.op and r.random() < 0.1:
            ins.comment = w.comment_text()
    # where the files break: between lines, never inside a class table, and
    # the first line of a file never carries a label the table could catch
    nfiles = 1 if r.random() < 0.75 else r.randrange(2, 4)
    cuts = sorted(r.sample(range(1, len(code)), min(nfiles - 1, len(code) - 1))) if nfiles > 1 else []
    cuts = [c for c in cuts if not (code[c].op == "mth" or code[c - 1].op in ("cls", "mth"))]
    bounds = [0] + cuts + [len(code)]
    files = []
    crlf_all = r.random() < 0.15
    for fi in range(len(bounds) - 1):
        part = code[bounds[fi]:bounds[fi + 1]]
        crlf = crlf_all or r.random() < 0.1
        mixed = r.random() < 0.1
        lines = []
        start = r.random()
        if start < 0.1:
            lines.append(("", "\n"))                       # a blank first line
        elif start < 0.2:
            lines.append((r.choice([" ", "\t", " \t ", ","]), "\n"))
        first = "// valid program, seed %d" % seed if fi == 0 else \
            "// file %d of the program of seed %d" % (fi + 1, seed)
        if start >= 0.2 and r.random() < 0.25:
            first = r.choice(["", " ", "\t"]) + first      # an indented comment
        if r.random() < 0.3:
            first += " " + r.choice(UTF8_WORDS)
        lines.append((first, "\n"))
        for k, ins in enumerate(part):
            nl = "\r\n" if (crlf if not mixed else r.random() < 0.5) else "\n"
            text = w.line(ins)
            if blen(text) + len(nl) > 99:
                ins.comment = None
                text = w.line(ins, plain=True)
                if blen(text) + len(nl) > 99:
                    raise Fault("line too long")
            nxt_is_mth = k + 1 < len(part) and part[k + 1].op == "mth"
            in_table = ins.op in ("cls", "mth")
            if r.random() < 0.04 and not (in_table and nxt_is_mth):
                text = make_long(r, w, ins, text, nl)
            lines.append((text, nl))
        end = r.random()
        if end < 0.1:
            lines += [("", "\n")] * r.randrange(1, 3)       # blank lines at the end
        elif end < 0.17:
            lines.append((r.choice([" ", "\t", "  \t", ","]), "\n"))
        elif end < 0.25:
            lines.append(("//" + w.comment_text(), "\n"))   # a comment last
        final_nl = r.random() < 0.9
        out = "".join(t + nl for t, nl in lines)
        if not final_nl:
            out = out[:-len(lines[-1][1])]
        data = out.encode("utf-8")
        # A byte-order mark, as some editors write one, before a first line
        # that is a comment.
        if r.random() < 0.08 and lines[0][0].startswith("//"):
            data = b"\xef\xbb\xbf" + data
        files.append(data)
    return files


def blen(text):
    """The length of a line in bytes, as the translator counts it."""
    return len(text.encode("utf-8"))


def make_long(r, w, ins, text, nl):
    """Pads a line with a comment to 97..100 bytes: the read of 99 bytes then
    cuts only the comment, or leaves an empty piece.  Or the comment ends in
    a character of two to four bytes that stands across the cut: the rest
    begins with bytes above 127, which the translator takes for an opcode
    it does not know, and writes nothing for."""
    if ins.raw is not None:
        base = ins.raw if "//" in ins.raw else ins.raw + "//"
        if not base.strip().startswith("//"):
            return text
    else:
        base = text if "//" in text else text + "\t//"
    k = base.find("//")
    if k < 0 or k > 80:
        return text
    across = r.random() < 0.3
    want = r.choice([97, 98, 99] if across else [97, 98, 99, 100]) - (len(nl) - 1)
    if blen(base) >= want:
        return text
    pad = "".join(r.choice("abcdefghijk -=+*") for _ in range(want - blen(base) - 1))
    last = r.choice(["\u00e9", "\u20ac", "\u65e5", "\U0001f600"]) if across else r.choice("xyz. -")
    return base + pad + last


def build_program(seed):
    for attempt in range(200):
        b = Builder(seed, attempt)
        try:
            b.build()
            place_end(b)
            inp = "".join(b.input)
            files = render(b, seed)
            code = [ins for ins in b.code]
            try:
                out = Machine(code, inp, b.end).run()
            except (TypeError, AttributeError, KeyError) as e:
                raise Fault("machine: %r" % e)
        except Fault:
            continue
        return files, inp, out
    raise RuntimeError("seed %d: no program after 200 attempts" % seed)


def main(argv):
    if len(argv) == 2:
        files, _, _ = build_program(int(argv[1]))
        sys.stdout.buffer.write(files[0])
        return 0
    if len(argv) == 5 and argv[1] == "--batch":
        d, first, count = argv[2], int(argv[3]), int(argv[4])
        os.makedirs(d, exist_ok=True)
        for s in range(first, first + count):
            files, inp, out = build_program(s)
            for i, data in enumerate(files):
                name = "seed-%d.ic" % s if i == 0 else "seed-%d.%d.ic" % (s, i + 1)
                with open(os.path.join(d, name), "wb") as f:
                    f.write(data)
            with open(os.path.join(d, "seed-%d.out" % s), "wb") as f:
                f.write(out.encode("ascii"))
            if inp:
                with open(os.path.join(d, "seed-%d.in" % s), "wb") as f:
                    f.write(inp.encode("ascii"))
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
