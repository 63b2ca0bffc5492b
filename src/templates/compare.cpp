// Comparisons, branches and argument pushes.
//
// A relational line "op a, b" leaves 1 in b when b op a holds, else 0.  The
// result is set by a branch to a true label; both paths meet at an end label.
#include <iterator>

#include "emit/emit.h"
#include "templates/handlers.h"

namespace qv {

namespace {

// Allocates the true label (kept in t) and then the end label, which stays
// in ilabel.
void two_labels(State& st, Label& t) {
  next_label(st, st.ilabel);
  t = st.ilabel;
  next_label(st, st.ilabel);
}

// The lines after the branch, the same for every relation.
void set_result(State& st, const Label& t) {
  st.out.put("\t\t\tli %s, 0\n", st.p2);
  st.out.put("\t\t\tb %s\n", st.ilabel);
  st.out.put("%s:\t\t\tli %s, 1\n", t, st.p2);
  st.out.put("%s:\t\t\tnop\n", st.ilabel);
}

// Integer relations: the branch line takes p2, p1 and the true label, except
// for eql, which takes p1 first.
struct IntRel {
  FmtN<2> trace;
  FmtN<3> branch;
  bool p1_first;
};

enum { LTN, LEQ, GTR, GEQ, NEQ, EQL };

constexpr IntRel int_rels[] = {
    {"\t\t\t\t\t# ltn -%s-%s-\n", "\t\t\tblt %s, %s, %s\n", false},
    {"\t\t\t\t\t# leq -%s-%s-\n", "\t\t\tble %s, %s, %s\n", false},
    {"\t\t\t\t\t# gtr -%s-%s-\n", "\t\t\tbgt %s, %s, %s\n", false},
    {"\t\t\t\t\t# geq -%s-%s-\n", "\t\t\tbge %s, %s, %s\n", false},
    {"\t\t\t\t\t# neq -%s-%s-\n", "\t\t\tbne %s, %s, %s\n", false},
    {"\t\t\t\t\t# eql -%s-%s-\n", "\t\t\tbeq %s, %s, %s\n", true},
};
static_assert(std::size(int_rels) == EQL + 1);

void int_rel(State& st, const IntRel& r) {
  map(st, st.p1);
  map(st, st.p2);
  Label t;
  two_labels(st, t);
  st.out.put_fmt(r.trace, st.p1, st.p2);
  if (r.p1_first) {
    st.out.put_fmt(r.branch, st.p1, st.p2, t);
  } else {
    st.out.put_fmt(r.branch, st.p2, st.p1, t);
  }
  set_result(st, t);
}

// Float relations: $f2 gets p1, $f4 gets p2.  The greater-than forms test
// the opposite less-than relation and branch when it is false.
struct FloatRel {
  FmtN<2> trace;
  FmtN<0> compare;
  FmtN<3> branch;  // true label, p2, p1
};

enum { LTNF, LEQF, GTRF, GEQF };

constexpr FloatRel float_rels[] = {
    {"\t\t\t\t\t# ltnf -%s-%s-\t  $$$$Needs Major Verification$$$$$$\n",
     "\t\t\tc.lt.s $f4, $f2\t# is it less then\n",
     "\t\t\tbc1t %s\t#if comparison was true then %s < %s\n"},
    {"\t\t\t\t\t# leqf -%s-%s-\t  $$$$Needs Major Verification$$$$$$\n",
     "\t\t\tc.le.s $f4, $f2\t# is it less then\n",
     "\t\t\tbc1t %s\t#if comparison was true then %s <= %s\n"},
    {"\t\t\t\t\t# gtrf -%s-%s-\t  $$$$Needs Major Verification$$$$$$\n",
     "\t\t\tc.le.s $f4, $f2\t#Compare negative i.e. is it less then\n",
     "\t\t\tbc1f %s\t#if comparison was false then %s > %s\n"},
    {"\t\t\t\t\t# geqf -%s-%s-\t  $$$$Needs Major Verification$$$$$$\n",
     "\t\t\tc.lt.s $f4, $f2\t#Compare negative i.e. is it less then\n",
     "\t\t\tbc1f %s\t#if comparison was false then %s >= %s\n"},
};
static_assert(std::size(float_rels) == GEQF + 1);

void float_rel(State& st, const FloatRel& r) {
  map(st, st.p1);
  map(st, st.p2);
  Label t;
  two_labels(st, t);
  st.out.put_fmt(r.trace, st.p1, st.p2);
  st.out.put("\t\t\tmtc1 %s, $f2 \t#move gp regs to fp regs\n", st.p1);
  st.out.put("\t\t\tmtc1 %s, $f4\n", st.p2);
  st.out.put_fmt(r.compare);
  st.out.put_fmt(r.branch, t, st.p2, st.p1);
  set_result(st, t);
}

}  // namespace

void ltn(State& st) { int_rel(st, int_rels[LTN]); }
void leq(State& st) { int_rel(st, int_rels[LEQ]); }
void gtr(State& st) { int_rel(st, int_rels[GTR]); }
void geq(State& st) { int_rel(st, int_rels[GEQ]); }
void neq(State& st) { int_rel(st, int_rels[NEQ]); }
void eql(State& st) { int_rel(st, int_rels[EQL]); }

void ltnf(State& st) { float_rel(st, float_rels[LTNF]); }
void leqf(State& st) { float_rel(st, float_rels[LEQF]); }
void gtrf(State& st) { float_rel(st, float_rels[GTRF]); }
void geqf(State& st) { float_rel(st, float_rels[GEQF]); }

// The label it allocates is never written, but its number is used up.
void brf(State& st) {
  map(st, st.p1);
  next_label(st, st.ilabel);
  st.out.put("\t\t\t\t\t# brf -%s-%s-\n", st.p1, st.p2);
  st.out.put("\t\t\tbeqz %s, %s\t #test %s == 0,true jump, false do nothing\n", st.p1, st.p2, st.p1);
}

// The target is a label: nothing is mapped.
void bra(State& st) {
  st.out.put("\t\t\t\t\t# bra -%s-\n", st.p1);
  st.out.put("\t\t\tb %s\t#branch to label %s \n", st.p1, st.p1);
}

void psh(State& st) {
  map(st, st.p1);
  st.out.put("\t\t\t\t\t# psh -%s-\n", st.p1);
  st.out.put("\t\t\tsw %s, 0($sp)\n", st.p1);
  pn(st, "addi $sp, $sp, -4");
}

void pshf(State& st) {
  map(st, st.p1);
  st.out.put("\t\t\t\t\t# pshf -%s-\n", st.p1);
  st.out.put("\t\t\tmfc1 $t0, %s\n", st.p1);
  st.out.put("\t\t\tsw $t0 , 0($sp)\n");
  pn(st, "addi $sp, $sp, -4");
}

}  // namespace qv
