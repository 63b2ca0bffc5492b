// Procedure entry, return and call.
//
// The record a call builds, relative to the callee's frame pointer F:
// arguments above F + 64, the saved $9..$22 from F + 64 down to F + 12, the
// static link at F + 8, the return address at F + 4, the caller's $fp at F,
// locals from F - 4 down.
#include "emit/emit.h"
#include "templates/handlers.h"

namespace qv {

namespace {

// Entry stores run with $sp = F - 4, return loads with $sp = F, so the same
// word is 4 bytes further from $sp on entry.
constexpr const char* kSaves[] = {
    "sw $9,  68($sp)", "sw $10, 64($sp)", "sw $11, 60($sp)", "sw $12, 56($sp)", "sw $13, 52($sp)",
    "sw $14, 48($sp)", "sw $15, 44($sp)", "sw $16, 40($sp)", "sw $17, 36($sp)", "sw $18, 32($sp)",
    "sw $19, 28($sp)", "sw $20, 24($sp)", "sw $21, 20($sp)", "sw $22, 16($sp)",
};

constexpr const char* kLoads[] = {
    "lw $9,  64($sp)", "lw $10, 60($sp)", "lw $11, 56($sp)", "lw $12, 52($sp)", "lw $13, 48($sp)",
    "lw $14, 44($sp)", "lw $15, 40($sp)", "lw $16, 36($sp)", "lw $17, 32($sp)", "lw $18, 28($sp)",
    "lw $19, 24($sp)", "lw $20, 20($sp)", "lw $21, 16($sp)", "lw $22, 12($sp)",
};

}  // namespace

void ntr(State& st) {
  Out& o = st.out;
  map(st, st.p2);
  o.put("\t\t\t\t\t###### ntr -%s-%s-\n", st.p1, st.p2);
  pn(st, ".data");
  pn(st, ".text");
  o.put("%s:\t\t\tnop\n", st.p1);
  pn(st, "sw $t0, 0($sp)\t#push scope pointer to stack");
  pn(st, "addi $sp, $sp, -4");
  pn(st, "sw $ra, 0($sp) \t#Push return address onto stack");
  pn(st, "addi $sp, $sp, -4");
  pn(st, "sw $fp, 0($sp) \t#Push frame pointer to stack");
  pn(st, "move $fp, $sp \t# Set FP to new frame");
  pn(st, "addi $sp, $sp, -4 \t#Inc sp");
  for (const char* s : kSaves) pn(st, s);
  o.put("\t\t\tli $t0, %s \t#Load size into to, calc space\n", st.p2);
  o.put("\t\t\tmul $t0, $t0,-4\n");
  pn(st, "add $sp, $sp, $t0\n");
}

void rtn(State& st) {
  Out& o = st.out;
  o.put("\t\t\t\t\t###### rtn -%s-%s \n", st.p1, st.p2);
  next_label(st, st.ilabel);
  map(st, st.p1);
  const Field* count = &st.p1;
  if (isreg(st.p1)) {
    o.put("\t\t\tmove $v0, %s\t#copy content in %s to $v0\n", st.p1, st.p1);
    count = &st.p2;
  }
  pn(st, "lw $t0, 4($fp) \t#move return address into t0\n");
  pn(st, "move $sp, $fp \t#adjust sp to current frame pointer");
  for (const char* s : kLoads) pn(st, s);
  // 64, not 60: $sp must end where it stood before the caller's first push,
  // or a call made between the pushes of another call's arguments shifts them.
  pn(st, "addi $sp, $sp, 64\t#adjust sp to below stack save area");
  o.put("\t\t\tli $t9, %s \t#load number of parameters on stack\n", *count);
  o.put("\t\t\tmul $t9, $t9, 4 \t#Adjust stack wiping out pushed parameters\n");
  pn(st, "add $sp, $sp, $t9");
  pn(st, "lw $fp, 0($fp)\t#Update fp to previous frame");
  pn(st, "jr $t0 \t#Jump to return address in t0");
  o.put("%s:\t\t\tnop\n", st.ilabel);
}

void cal(State& st) {
  Out& o = st.out;
  map(st, st.p2);
  o.put("\t\t\t\t\t###### cal -disp-%s -name-%s \n", st.p1, st.p2);
  next_label(st, st.ilabel);  // exit
  Label loop;
  next_label(st, loop);
  pn(st, "sw $0, 0($sp)");
  o.put("\t\t\tadd $sp, $sp, %3i\t#Adjust sp to conform to VAX stack frame size\n", -56);
  pn(st, "move $t0, $sp\t#store next fp in t0");
  pn(st, "addi $t0, $t0, -8 \t#Where the new FP will point");
  pn(st, "move $t9, $fp");
  pn(st, "add $t9, $t9, 8");
  pn(st, "move $t0, $t9");
  o.put("\t\t\tli $t8, %s\t#Load t8 with displacement +1\n", st.p1);
  pn(st, "addi $t8, $t8, 1");
  o.put("%s:\t\t\tbeqz $t8, %s \t#Skip back disp times through the call stack\n", loop, st.ilabel);
  pn(st, "addi $t8, $t8, -1");
  pn(st, "lw $t0, 0($t0)");
  o.put("\t\t\tb %s \n", loop);
  o.put("%s:\t\t\tnop\n", st.ilabel);
  o.put("\t\t\tjalr %s \t #Jump to procedure %s and link\n", st.p2, st.p2);
}

}  // namespace qv
