// Arithmetic and logic.  A two-operand operation "op a, b" leaves b op a in b.
#include <iterator>

#include "emit/emit.h"
#include "templates/handlers.h"

namespace qv {

namespace {

// Integer and boolean operations: the trace comment takes p1, p2, the
// instruction line p2, p2, p1.
struct IntOp {
  FmtN<2> trace;
  FmtN<3> line;
};

enum { ADD, SUB, MUL, DIV, REM, AND, OR };

constexpr IntOp int_ops[] = {
    {"\t\t\t\t\t# add -%s-%s-\n", "\t\t\tadd %s, %s, %s  \t\n"},
    {"\t\t\t\t\t# sub -%s-%s-\n", "\t\t\tsub %s, %s, %s  \t\n\n"},
    {"\t\t\t\t\t# mul -%s-%s-\n", "\t\t\tmul %s, %s, %s  \t\n\n"},
    {"\t\t\t\t\t# div -%s-%s-\n", "\t\t\tdiv %s, %s, %s  \t\n\n"},
    {"\t\t\t\t\t# rem -%s-%s-\n", "\t\t\trem %s, %s, %s  \t\n\n"},
    {"\t\t\t\t\t# and -%s-%s-\n", "\t\t\tand %s, %s, %s\t#Logical And\n"},
    {"\t\t\t\t\t# or -%s-%s-\n", "\t\t\tor %s, %s, %s\t#Logical Or\n"},
};
static_assert(std::size(int_ops) == OR + 1);

void int_op(State& st, const IntOp& op) {
  map(st, st.p1);
  map(st, st.p2);
  st.out.put_fmt(op.trace, st.p1, st.p2);
  st.out.put_fmt(op.line, st.p2, st.p2, st.p1);
}

// Float operations: $f2 gets p1, $f4 gets p2, and the result always comes
// back from $f2 into p2.
struct FloatOp {
  FmtN<2> trace;
  FmtN<0> line;
};

enum { ADDF, SUBF, MULF, DIVF };

constexpr FloatOp float_ops[] = {
    {"\t\t\t\t\t# addf -%s-%s-\n", "\t\t\tadd.s $f2, $f2, $f4 \n"},
    {"\t\t\t\t\t# subf -%s-%s-\n", "\t\t\tsub.s $f2, $f4, $f2 \n"},
    {"\t\t\t\t\t# mulf -%s-%s-\n", "\t\t\tmul.s $f2, $f4, $f2 \n"},
    {"\t\t\t\t\t# divf -%s-%s-\n", "\t\t\tdiv.s $f2, $f4, $f2 \n"},
};
static_assert(std::size(float_ops) == DIVF + 1);

void float_op(State& st, const FloatOp& op) {
  map(st, st.p1);
  map(st, st.p2);
  st.out.put_fmt(op.trace, st.p1, st.p2);
  st.out.put("\t\t\tmtc1 %s, $f2 \t#move gp regs to fp regs\n", st.p1);
  st.out.put("\t\t\tmtc1 %s, $f4\n", st.p2);
  st.out.put_fmt(op.line);
  st.out.put("\t\t\tmfc1 %s, $f2\t#move result to gp\n", st.p2);
}

}  // namespace

void add(State& st) { int_op(st, int_ops[ADD]); }
void sub(State& st) { int_op(st, int_ops[SUB]); }
void mul(State& st) { int_op(st, int_ops[MUL]); }
void div1(State& st) { int_op(st, int_ops[DIV]); }
void rem(State& st) { int_op(st, int_ops[REM]); }
void and1(State& st) { int_op(st, int_ops[AND]); }
void or1(State& st) { int_op(st, int_ops[OR]); }

void addf(State& st) { float_op(st, float_ops[ADDF]); }
void subf(State& st) { float_op(st, float_ops[SUBF]); }
void mulf(State& st) { float_op(st, float_ops[MULF]); }
void div1f(State& st) { float_op(st, float_ops[DIVF]); }

void neg(State& st) {
  map(st, st.p1);
  st.out.put("\t\t\t\t\t# neg -%s-\n", st.p1);
  st.out.put("\t\t\tneg %s, %s\t#Negetive of integer\n", st.p1, st.p1);
}

// Traced as "neg" too; unlike the two-operand float operations the result
// comes back from $f4.
void negf(State& st) {
  map(st, st.p1);
  st.out.put("\t\t\t\t\t# neg -%s-\n", st.p1);
  st.out.put("\t\t\tmtc1 %s, $f2 \t#move gp regs to fp regs\n", st.p1);
  st.out.put("\t\t\tneg.s $f4, $f2\n");
  st.out.put("\t\t\tmfc1 %s, $f4\t#move result to gp\n", st.p1);
}

// Flips bit 0 only, which is the logical negation of 0 and 1.
void not1(State& st) {
  map(st, st.p1);
  st.out.put("\t\t\t\t\t# not -%s-%s-\n", st.p1, st.p1);
  st.out.put("\t\t\txori %s, %s, 0x0001\t#Bitwise logical negation\n", st.p1, st.p1);
}

}  // namespace qv
