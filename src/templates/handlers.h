// The opcode handlers, one per mnemonic (the handler of "end" is end1, in
// emit/frame.h).  Each reads its operands from the operand fields of the
// state, maps the register operands in place and writes its template.
#pragma once

#include <string_view>

#include "state.h"

namespace qv {

// procedures.cpp: procedure entry, return and call
void ntr(State& st);
void rtn(State& st);
void cal(State& st);

// memory.cpp: variable addressing and memory access
void var(State& st);
void val(State& st);
void valf(State& st);
void ndx(State& st);
void sel(State& st);
void sto(State& st);
void mov(State& st);

// constants.cpp: constants, string literals and heap allocation
void cst(State& st);
// Whether cst loads the value as an address ("la"): any letter makes it a
// label, "0x1F" too; otherwise it is a number ("li").
bool cst_loads_address(std::string_view value);
void cstf(State& st);
void str1(State& st);  // opcode "str"
void alc(State& st);

// arithmetic.cpp: arithmetic and logic
void add(State& st);
void sub(State& st);
void mul(State& st);
void div1(State& st);  // opcode "div"
void rem(State& st);
void and1(State& st);  // opcode "and"
void or1(State& st);   // opcode "or"
void addf(State& st);
void subf(State& st);
void mulf(State& st);
void div1f(State& st);  // opcode "divf"
void neg(State& st);
void negf(State& st);
void not1(State& st);  // opcode "not"

// compare.cpp: comparisons, branches and argument pushes
void ltn(State& st);
void ltnf(State& st);
void leq(State& st);
void leqf(State& st);
void gtr(State& st);
void gtrf(State& st);
void geq(State& st);
void geqf(State& st);
void eql(State& st);  // also opcode "eqlf"
void neq(State& st);  // also opcode "neqf"
void brf(State& st);
void bra(State& st);
void psh(State& st);
void pshf(State& st);

// console.cpp: console input and output
void pint(State& st);
void gint(State& st);
void pflt(State& st);
void gflt(State& st);
void pbln(State& st);
void gbln(State& st);
void gchr(State& st);
void pchr(State& st);
void pln(State& st);
void pstr(State& st);
void gstr(State& st);
void tfl(State& st);

// classes.cpp: class tables and trace points
void cls(State& st);
void mth(State& st);
void dbg(State& st);

}  // namespace qv
