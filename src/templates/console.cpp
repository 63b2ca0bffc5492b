// Console input and output.
#include "emit/emit.h"
#include "templates/handlers.h"

namespace qv {

void pint(State& st) {
  map(st, st.p1);
  st.out.put("\t\t\t\t\t#pint -%s-\n", st.p1);
  st.out.put("\t\t\tmove $a0, %s  \t#Print Integer\n", st.p1);
  pn(st, "li $v0, 1");
  pn(st, "syscall");
  pn(st, "la $a0, blk");
  pn(st, "li $v0, 4");
  pn(st, "syscall");
}

void gint(State& st) {
  map(st, st.p1);
  st.out.put("\t\t\t\t\t#gint -%s-\n", st.p1);
  pn(st, "li $v0, 5");
  pn(st, "syscall");
  st.out.put("\t\t\tmove %s, $v0\t#move integer into register %s\n", st.p1, st.p1);
}

void pflt(State& st) {
  map(st, st.p1);
  st.out.put("\t\t\t\t\t#pflt -%s-\n", st.p1);
  st.out.put("\t\t\tmtc1 %s, $f12 \t#move gp regs to f12 reg\n", st.p1);
  pn(st, "li $v0, 2");
  pn(st, "syscall");
  pn(st, "la $a0, blk");
  pn(st, "li $v0, 4");
  pn(st, "syscall");
}

void gflt(State& st) {
  map(st, st.p1);
  st.out.put("\t\t\t\t\t#gflt -%s-\n", st.p1);
  pn(st, "li $v0, 6");
  pn(st, "syscall");
  st.out.put("\t\t\tmfc1 %s $f0 \t#store float into register %s\n", st.p1, st.p1);
}

void pstr(State& st) {
  map(st, st.p1);
  st.out.put("\t\t\t\t\t#pstr -%s-\n", st.p1);
  st.out.put("\t\t\tmove $a0, %s\t#move address of string into $a0\n", st.p1);
  pn(st, "li $v0, 4");
  pn(st, "syscall");
}

// The character goes into the first byte of str2; the second byte stays the
// terminator, so printing the string prints one character.
void pchr(State& st) {
  map(st, st.p1);
  st.out.put("\t\t\t\t\t#pchr -%s-\n", st.p1);
  st.out.put("\t\t\tsb %s, str2\t#store char to print in str1\n", st.p1);
  pn(st, "la $a0, str2");
  pn(st, "li $v0, 4");
  pn(st, "syscall");
}

void pln(State& st) {
  st.out.put("\t\t\t\t\t#pln \n");
  pn(st, "la $a0, new_line         # Print a newline");
  pn(st, "li $v0, 4");
  pn(st, "syscall");
}

void pbln(State& st) {
  map(st, st.p1);
  next_label(st, st.ilabel);
  st.out.put("\t\t\t\t\t#pbln -%s-\n", st.p1);
  st.out.put("\t\t\tmove $a0, %s  \t#Print Boolean\n", st.p1);
  pn(st, "move $t0, $a0");
  pn(st, "la $a0, false");
  st.out.put("\t\tbeqz $t0, %s \t#if equal to 0 the boolean is false\n", st.ilabel);
  pn(st, "la $a0, true");
  st.out.put("%s:\t\tnop\n", st.ilabel);
  pn(st, "li $v0, 4");
  pn(st, "syscall");
  pn(st, "la $a0, blk");
  pn(st, "li $v0, 4");
  pn(st, "syscall");
}

// Skips input up to the first "t" or "f", then matches the rest of "true" or
// "false" one character at a time; a mismatch prints badipbl.  The closing
// read-integer call eats the rest of the input line.
void gbln(State& st) {
  Label l1, l2, l3, l4, l5, l6, l7, l8, l9;
  next_label(st, l1);
  next_label(st, l2);
  next_label(st, l3);
  next_label(st, l4);
  next_label(st, l5);
  next_label(st, l6);
  next_label(st, l7);
  next_label(st, l8);
  next_label(st, l9);
  map(st, st.p1);
  Out& o = st.out;
  o.put("\t\t\t\t\t#gbln -%s-\n", st.p1);
  o.put("\t\t\tli %s, 0 \t\t#Assume false so set %s = 0\n", st.p1, st.p1);
  o.put("%s:\t\tnop \t\t#Find the start of a boolean\n", l1);
  pn(st, "la $t0, true");
  pn(st, "la $a0, str2");
  pn(st, "li $a1, 2");
  pn(st, "li $v0, 8");
  pn(st, "syscall");
  pn(st, "lb $t9, str2");
  pn(st, "lb $t0,0($t0)");
  o.put("\t\t\tbeq $t0, $t9, %s \n", l2);
  pn(st, "la $t0, false");
  pn(st, "lb $t0,0($t0)");
  o.put("\t\t\tbeq $t0, $t9, %s \n", l2);
  o.put("\t\t\tb %s \n", l1);
  o.put("%s:\t\tnop\t\t#Found start of a boolean\n", l2);
  o.put("\t\t\tbeq $t0, 'f', %s\n", l3);
  pn(st, "la $t0, true \t\t#Looks like a true");
  pn(st, "li $t8, 3");
  o.put("\t\t\tli %s, 1\t\t#Set register %s to 1\n", st.p1, st.p1);
  o.put("\t\t\tb %s\n", l4);
  o.put("%s:\t\tnop \t\t#Looks like a false\n", l3);
  pn(st, "la $t0, false");
  pn(st, "li $t8, 4");
  o.put("%s:\t\tnop\n", l4);
  pn(st, "addi $t0,1 \t\t#Already read first char so inc");
  o.put("%s:\t\tnop\n", l5);
  o.put("\t\t\tbeq $t8, 0, %s\t\t#Read rest of boolean literal\n", l8);
  pn(st, "la $a0, str2");
  pn(st, "li $a1, 2");
  pn(st, "li $v0, 8");
  pn(st, "syscall");
  pn(st, "lb $t9, str2");
  pn(st, "lb $s7, 0($t0)");
  o.put("\t\t\tbeq $s7, $t9, %s\n", l6);
  o.put("\t\t\tb %s\n", l7);
  o.put("%s:\t\tnop\n", l6);
  pn(st, "addi $t0, 1");
  pn(st, "addi $t8, -1");
  o.put("\t\t\tb %s\t\t#Still reading valid chars, get another char\n", l5);
  o.put("%s:\t\tnop\t\t\t#Got an error reading, so emit error message\n", l7);
  pn(st, "la $a0, badipbl");
  pn(st, "li $a1,100");
  pn(st, "li $v0, 4");
  pn(st, "syscall");
  o.put("\t\t\tb %s\n", l9);
  o.put("%s:\t\tnop \n", l8);
  o.put("%s:\t\tnop \n", l9);
  pn(st, "li $v0, 5 \t\t#do a get int to simulate a skipline");
  pn(st, "syscall");
}

// The first label ends the handler's code, the second marks the newline case.
void gchr(State& st) {
  Label eol;
  next_label(st, st.ilabel);
  next_label(st, eol);
  map(st, st.p1);
  Out& o = st.out;
  o.put("\t\t\t\t\t#gchr -%s-\n", st.p1);
  pn(st, "la $a0, str2\t#address on place to store char");
  pn(st, "li $a1, 2");
  pn(st, "li $v0, 8");
  pn(st, "syscall");
  pn(st, "move $t0, $0\t#clear t0");
  pn(st, "lb $t0, str2");
  o.put("\t\t\tmove %s, $t0\t#store char into register %s\n", st.p1, st.p1);
  o.put("\t\t\tbeq $t0, 10, %s\t#check for eol char\n", eol);
  o.put("\t\t\tmove $a3, $0\n");
  o.put("\t\t\tb %s \n", st.ilabel);
  o.put("%s:\t\t\tnop \n", eol);
  o.put("\t\t\tli $a3, 1\n");
  o.put("%s:\t\t\tnop \n", st.ilabel);
}

namespace {

// A length of decimal digits only that exceeds the 100-byte block would let
// the read write past it.  Compared as text, so no string of digits overflows.
bool exceeds_block(const Field& f) {
  for (char c : f.sv())
    if (c < '0' || c > '9') return false;
  std::string_view d = f.sv();
  while (d.size() > 1 && d[0] == '0') d.remove_prefix(1);
  if (d.size() != 3) return d.size() > 3;
  return d > "100";
}

}  // namespace

// Takes two labels and prints neither; their numbers are used up all the same.
void gstr(State& st) {
  Label second;
  next_label(st, st.ilabel);
  next_label(st, second);
  map(st, st.p1);
  Out& o = st.out;
  o.put("\t\t\t\t\t#gstr -%s-%s-\n", st.p1, st.p2);
  o.put("\t\t\tlw $t8, heap \t#Allocate 100 spaces on the heap for the string\n");
  o.put("\t\t\tli $t9, -4 \t#Adjust heap\n");
  o.put("\t\t\tli $t0, 25\n");
  o.put("\t\t\tmul $t9, $t9, $t0\n");
  o.put("\t\t\tadd $t8, $t8, $t9\n");
  o.put("\t\t\tsw $t8, heap\t#New heap boundary\n");
  o.put("\t\t\tadd $t8 $t8, 4\t#Move base up 1 word from heap ptr\n");
  o.put("\t\t\tmove $a0, $t8 \t#move address of allocated memory to $a0\n");
  if (st.p2.empty())
    pn(st, "li $a1, 100\t\t#Length field not present, default to 100");
  else if (exceeds_block(st.p2))
    o.put("\t\t\tli $a1, 100\t#optional length field present\n");
  else
    o.put("\t\t\tli $a1, %s\t#optional length field present\n", st.p2);
  pn(st, "li $v0, 8");
  pn(st, "syscall");
  o.put("\t\t\tmove %s, $t8\t#Assign %s to base of string\n", st.p1, st.p1);
}

void tfl(State& st) {
  map(st, st.p1);
  st.out.put("\t\t\t\t\t#tfl  -%s-\n", st.p1);
  st.out.put("\t\t\tsw $a3, 0(%s)\n", st.p1);
  st.out.put("\t\t\tmove $a3, $0\n");
}

}  // namespace qv
