#!/usr/bin/env python3
"""Writes the hostile-input golden cases of this directory: NAME.ic and the
expected NAME.body (standard output after the prologue), NAME.err, NAME.status.

The expected texts are put together from the translator's quoted templates,
copied below, and from the line rules worked out by hand for each case:

- a read takes at most 99 characters, through a line break; a file that ends
  with a line break, or whose last read stopped at 99 characters, gets one
  more pass over a line of blanks, which writes only the ".text" that closes
  an open class table;
- the line is a C string: a NUL byte ends it, whatever the read took after it;
- "//" cuts the line; a colon before any double quote ends a label; the
  literal lies between the first and the last double quote;
- commas and tabs are blanks; a token ends at any white space, and a token
  that ends at white space other than a blank (CR, FF, VT, line break) ends
  the line; bytes above 127 and other control bytes are token characters;
- only the first six tokens count, from positions 0 to 98.

Run it from anywhere: python3 tests/golden/hostile/gen.py
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def fill(template, *values):
    """Fills %s conversions in order; a value is data, never a format."""
    parts = template.split(b"%s")
    assert len(parts) == len(values) + 1, template
    out = parts[0]
    for v, p in zip(values, parts[1:]):
        out += v + p
    return out


def pn(text):
    return b"\t\t\t" + text + b"\n"


def reg(operand):
    """Register names used by the cases, mapped as the mapping table gives."""
    return {b"r0": b"$9", b"r1": b"$10", b"r2": b"$11", b"r3": b"$12", b"r": b"$9", b"rr": b"$v0"}.get(operand, operand)


# Dispatcher lines.
def pass_through(opcode, p1, p2=b""):
    if p1[:1] == b"j":
        return fill(b"%s\t\t\t%s %s\n", opcode, b"j", p2)
    return fill(b"%s\t\t\t%s \n", opcode, p1)


def label(lbl):
    return fill(b"%s\t\t nop\n", lbl)


TEXT = b"\t\t\t.text\n"


# Handlers, with operands as the line gives them (mapping done here).
def add(p1, p2):
    a, b = reg(p1), reg(p2)
    return fill(b"\t\t\t\t\t# add -%s-%s-\n", a, b) + fill(b"\t\t\tadd %s, %s, %s  \t\n", b, b, a)


def cst(p1, p2):
    b = reg(p2)
    out = fill(b"\t\t\t\t\t# cst -%s-%s-\n", p1, b)
    if any(65 <= c <= 90 or 97 <= c <= 122 for c in p1):
        return out + fill(b"\t\t\tla %s, %s  \t#Load register with address\n\n", b, p1)
    return out + fill(b"\t\t\tli %s, %s  \t#Load register with value\n\n", b, p1)


def str1(p1, lit):
    return (fill(b"\t\t\t\t\t# str -%s-%s-\n", p1, lit) + b"\t\t\t.data\n"
            + fill(b"%s:\t\t\t.asciiz \"%s\"\n", p1, lit) + b"\t\t\t.text\n")


def pint(p1):
    return (fill(b"\t\t\t\t\t#pint -%s-\n", reg(p1)) + fill(b"\t\t\tmove $a0, %s  \t#Print Integer\n", reg(p1))
            + pn(b"li $v0, 1") + pn(b"syscall") + pn(b"la $a0, blk") + pn(b"li $v0, 4") + pn(b"syscall"))


def pln():
    return b"\t\t\t\t\t#pln \n" + pn(b"la $a0, new_line         # Print a newline") + pn(b"li $v0, 4") + pn(b"syscall")


def end1(p1, p2, p3):
    return (fill(b"\t\t\t\t\t# end -%s-%s-%s-\n", p1, p2, p3)
            + fill(b"ENDIT:\t\t\tlw $t8, heap\t#Allocate %s words on heap \n", p1)
            + b"\t\t\tli $t9, -4 \t#Adjust heap\n"
            + fill(b"\t\t\tmul $t9, $t9, %s\n", p1)
            + b"\t\t\tadd $t8, $t8, $t9\n"
            + b"\t\t\tsw $t8, heap\n"
            + b"\t\t\tadd $t8,$t8,4\n"
            + fill(b"\t\t\tla $t9, %s  \t#store address %s in memory location $t8\n", p2, p2)
            + b"\t\t\tsw $t9, 0($t8)\n"
            + pn(b"sw $t8, 0($s7)\t#then push this address of the words on stack at $s7\n")
            + fill(b"\t\t\tjal %s\t#Call main constructor %s\n", p3, p3)
            + b"ENDIT1:\t\t\tli $v0, 10\n"
            + pn(b"syscall\n"))


def cls(p1, p2):
    return (fill(b"\t\t\t\t\t# cls -%s-%s- \n", p1, p2) + b"\t\t\t.data\n"
            + fill(b"%s:\t\t\t.word %s \t#superclass %s defined\n", p1, p2, p2))


def mth(p1):
    return fill(b"\t\t\t\t\t# mth -%s- \n", p1) + fill(b"\t\t\t.word %s \n", p1)


CASES = {}


def case(name, ic, body, err=b"", status=0):
    CASES[name] = (ic, body, err, status)


# NUL bytes: the rest of the line after a NUL is not seen, but the read still
# runs to the line break, so the next line is read as usual.
case("nul_bytes",
     b"add r1, r2\0 sub r3\n"          # NUL between tokens: the sub is gone
     b"pint r\0" b"2\n"                # NUL inside a token: the operand is "r"
     b"L\0:  pln\n"                    # the colon is behind the NUL: no label
     b"\0add r1, r2\n"                 # NUL first: an empty line
     b"str S1 \"ab\"\n"
     b"str S2 \"x\0y\"\n"              # one quote visible: the old literal stays
     + b"pln\0" + b"x" * 95 + b"pint r2\n"  # 99 characters read, then "pint r2"
     + b"\0",                          # last line, no line break: no extra pass
     add(b"r1", b"r2")
     + pint(b"r")
     + pass_through(b"L", b"")
     + str1(b"S1", b"ab")
     + str1(b"S2", b"ab")
     + pln()
     + pint(b"r2"))

# Bytes above 127 (and other control bytes) are token characters.
case("high_bytes",
     b"\xe4dd r1, r2\n"                # unknown opcode
     b"add\xff r1, r2\n"               # unknown opcode
     b"add r\xe9, \xff2\n"             # "r" + a non-digit maps to $9
     b"add r1,\xa0r2\n"                # no-break space is no white space
     b"add r1,\x01r2\x7f\n"
     b"\xc3\xa9t\xff: pln\n"           # label
     b"L\xe9 j L\x802\n"               # pass-through line
     b"str S\xe9 \"\xe2\x82\xac, \xff\"\n"  # literal
     b"cst \xe9\xe9, r1\n"             # no letter: li
     b"cst \xe9a, r1\n",               # a letter: la
     add(b"$9", b"\xff2")
     + add(b"r1", b"\xa0r2")
     + add(b"r1", b"\x01r2\x7f")
     + label(b"\xc3\xa9t\xff:") + pln()
     + pass_through(b"L\xe9", b"j", b"L\x802")
     + str1(b"S\xe9", b"\xe2\x82\xac, \xff")
     + cst(b"\xe9\xe9", b"r1")
     + cst(b"\xe9a", b"r1"))

# Carriage returns alone do not end a read, but end the tokens of a line.
case("carriage_returns",
     b"add r1, r2\rsub r1, r2\r\n"
     b"\rpint r1\n"
     b"add r1,\rr2\n"
     b"L3:\r pln\n"
     b"L5 j\rL6\n"
     b"str S1 \"a\rb\"\n"
     b"cst 1, r1\rcst 2, r2\r",        # old Mac file end: one line, no pass
     add(b"r1", b"r2")
     + add(b"r1", b"")
     + label(b"L3:")
     + pass_through(b"L5", b"j", b"")
     + str1(b"S1", b"a\rb")
     + cst(b"1", b"r1"))

# Form feeds and vertical tabs end the tokens of a line like a line break.
case("ff_vt",
     b"add r1,\x0cr2\n"
     b"\x0bpln\n"
     b"pln \x0c junk\n"
     b"cst 7\x0b, r1\n"
     b"str S2 \"x\x0cy\x0bz\"\n"
     b"L1:\x0c\n",
     add(b"r1", b"")
     + pln()
     + cst(b"7", b"")
     + str1(b"S2", b"x\x0cy\x0bz")
     + label(b"L1:"))

# Conversions in the input are data everywhere.
case("percent",
     b"str S1 \"%s and %n, %d%% %\"\n"
     b"%n%s: pln\n"
     b"L%s%n %d\n"
     b"L%n j%s %x\n"
     b"add %s, %n\n"
     b"end %s, %n, %d\n",
     str1(b"S1", b"%s and %n, %d%% %")
     + label(b"%n%s:") + pln()
     + pass_through(b"L%s%n", b"%d")
     + pass_through(b"L%n", b"j", b"%x")
     + add(b"%s", b"%n")
     + end1(b"%s", b"%n", b"%d"))

# Labels of 98 characters.  With the colon the first fills a whole read (99
# characters), so its line break is read as an empty line; the second's
# blank after the colon is its 99th character, so "pln" is read on its own.
A98 = bytes(65 + i % 26 for i in range(98))
B97 = bytes(97 + i % 26 for i in range(97))
case("label_98",
     A98 + b":\n"
     + B97 + b": pln\n"
     + b"\t" + B97[:96] + b":cst 5, r1\n",  # tab kept in the label; 99 with "c"
     label(A98 + b":")
     + label(B97 + b":") + pln()
     + label(b"\t" + B97[:96] + b":"))  # the read ends after "c": opcode "c"


# 200 operands "L0001".."L0200" after "end", joined by commas alone: 1203
# characters, read in 13 pieces.  Operand k covers [3+6(k-1), 3+6k) with its
# comma.  Piece 1 is "end" and operands 1-16; every even piece 2m begins at the
# comma of operand 33m-16, so it is a pass-through line of that operand and
# the next; every odd piece from 3 on begins with the last three digits of an
# operand, an unknown opcode.
def operands_case():
    line = b"end" + b"".join(b",L%04d" % k for k in range(1, 201))
    assert len(line) == 1203
    body = end1(b"L0001", b"L0002", b"L0003")
    for m in range(1, 7):
        body += pass_through(b"L%04d" % (33 * m - 16), b"L%04d" % (33 * m - 15))
    return line + b"\n", body


case("operands_200", *operands_case())


# A line of 10,000 characters: 101 reads of 99, then "L" and the line break.
# Even pieces are a pass-through line whose second token sits at position 98;
# odd pieces a "cst" whose register sits at positions 97 and 98.
def long_line_case():
    pieces, body = [], b""
    for k in range(101):
        if k % 2 == 0:
            head = b"L%d" % k
            pieces.append(head + b" \t" * 60)
            pieces[-1] = pieces[-1][:98] + b"Q"
            body += pass_through(head, b"Q")
        else:
            head = b"cst %d," % k
            pieces.append((head + b"\t" * 99)[:97] + b"r2")
            body += cst(b"%d" % k, b"r2")
    line = b"".join(pieces) + b"L"
    assert all(len(p) == 99 for p in pieces) and len(line) == 10000
    body += pass_through(b"L", b"")
    return line + b"\n", body


case("line_10000", *long_line_case())


# 101 reads of 99 characters and no line break: the last read stops at its
# count, so an end-of-file pass follows and closes the table it opened.
def long_line_noeol_case():
    pieces = [(b"mth M%d" % k).ljust(99) for k in range(100)]
    pieces.append(b"cls C1, C0".ljust(99))
    body = b"".join(mth(b"M%d" % k) for k in range(100)) + cls(b"C1", b"C0") + TEXT
    return b"".join(pieces), body


case("line_9999_no_eol", *long_line_noeol_case())

# An empty file: one pass over a line of blanks, which writes nothing.
case("empty", b"", b"")

# A class table left open at the end of a file without a line break: the
# empty second file's pass closes it (see open_table_then_empty below).
OPEN_TABLE = b"cls C1, C0\nmth M1"


def main():
    for name, (ic, body, err, status) in CASES.items():
        write(name + ".ic", ic)
        write(name + ".body", body)
        if err:
            write(name + ".err", err)
        if status:
            write(name + ".status", b"%d\n" % status)
    write("open_table.in", OPEN_TABLE)
    # Runs given by their argument words.
    runs = {
        "open_table_then_empty": ([b"open_table.in", b"empty.ic"], cls(b"C1", b"C0") + mth(b"M1") + TEXT, b"", 0),
        # A directory opens but cannot be read: the run stops at once, after
        # the header that the first file writes before its first read.
        "directory": ([b"."], b"", b"quorvelin: error reading .: Is a directory\n", 1),
        # A later file is not translated.
        "directory_second": ([b"empty.ic", b"percent.ic", b".", b"high_bytes.ic"],
                             CASES["percent"][1], b"quorvelin: error reading .: Is a directory\n", 1),
    }
    for name, (args, body, err, status) in runs.items():
        write(name + ".args", b"".join(a + b"\n" for a in args))
        write(name + ".body", body)
        if err:
            write(name + ".err", err)
        if status:
            write(name + ".status", b"%d\n" % status)


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
