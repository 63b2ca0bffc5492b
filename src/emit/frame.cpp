#include "emit/frame.h"

#include "emit/banner.h"
#include "emit/emit.h"

namespace qv {

namespace {
constexpr int kHeapWords = 1000;
}

void gen_header(State& st) {
  Out& o = st.out;
  CopyWrite(o);
  pn(st, ".data");
  o.put("new_line:\t\t.asciiz \"\\n\"\t\t#EOL character\n");
  o.put("blk:\t\t.asciiz \" \"\t\t#blank space \n");
  o.put("str2:\t\t\t.asciiz \" \"\t\t#Memory to hold 1 input character\n");
  o.put("lblow:\t\t\t.asciiz \"**** ERROR: Execution error, lower array bounds\\n\"\n");
  o.put("lbhi:\t\t\t.asciiz \"**** ERROR: Execution error, upper array bounds\\n\"\n");
  o.put("badipbl:\t\t.asciiz \"**** ERROR: Execution error, Can not parse Boolean\\n\"\n");
  o.put("true:\t\t\t.asciiz \"true\"\t\t#String to represent a boolean true value\n");
  o.put("false:\t\t\t.asciiz \"false\"\t\t#String to represent a boolean false value\n");
  o.put("heap:\t\t\t.word %d \t\t#pointer to base of heap\n", kHeapWords);
  pn(st, ".text");
  o.put("main:\t\t\tla $ra, ENDIT1 \n");
  o.put("\t\t\tsw $sp, heap \t#Initialize heap to location on stack\n");
  o.put("\t\t\tli $t9, 4\n");
  o.put("\t\t\tmul $t9, $t9, %4d\n", -kHeapWords);
  o.put("\t\t\tadd $sp, $sp, $t9 \t#create space on stack for heap\n ");
  o.put("\t\t\tmove $s7,$sp \t#Set register s7 to point to parameter area for initial stack frame\n");
  o.put("\t\t\tadd $sp, $sp, -4\n");
  o.put("\t\t\tadd $sp, $sp, %2d\t#create space for initial dummy routine\n", -56);
  pn(st, "move $t0, $sp\t#Set to where initial fp will be");
  pn(st, "add, $t0, $t0, -8");
  pn(st, "move $fp, $t0");
  pn(st, "sw $sp, 0($fp)");
  pn(st, "j ENDIT");
  var_procedure(st);
}

void var_procedure(State& st) {
  Out& o = st.out;
  o.put("##########  VAR PROCEDURE CALL CODE ###############\n");
  o.put("_var_:\t\tnop\n");
  pn(st, "move $a2, $fp\t\t#Scope pointer is located fp+8");
  pn(st, "addi $a2, $a2,8");
  pn(st, "move $t0, $a0\t\t#Delta frames is loaded into $t0");
  o.put("_var_2:\t\tbeqz $t0, _var_1\t\t#jump back delta frames\n");
  pn(st, "addi $t0, $t0, -1");
  pn(st, "lw $a2,0($a2)");
  pn(st, "b _var_2");
  o.put("_var_1:\t\tnop\n");
  pn(st, "move $t9, $a1\t\t#From frame cllc displacement and get var");
  pn(st, "addi $t8, $t9, 1");
  pn(st, "mul $t8, $t8, -4");
  pn(st, "add $t8, $t8, $a2");
  pn(st, "move $v0, $t8");
  pn(st, "jr $ra");
}

void end1(State& st) {
  Out& o = st.out;
  o.put("\t\t\t\t\t# end -%s-%s-%s-\n", st.p1, st.p2, st.p3);
  o.put("ENDIT:\t\t\tlw $t8, heap\t#Allocate %s words on heap \n", st.p1);
  o.put("\t\t\tli $t9, -4 \t#Adjust heap\n");
  o.put("\t\t\tmul $t9, $t9, %s\n", st.p1);
  o.put("\t\t\tadd $t8, $t8, $t9\n");
  o.put("\t\t\tsw $t8, heap\n");
  o.put("\t\t\tadd $t8,$t8,4\n");
  o.put("\t\t\tla $t9, %s  \t#store address %s in memory location $t8\n", st.p2, st.p2);
  o.put("\t\t\tsw $t9, 0($t8)\n");
  pn(st, "sw $t8, 0($s7)\t#then push this address of the words on stack at $s7\n");
  o.put("\t\t\tjal %s\t#Call main constructor %s\n", st.p3, st.p3);
  o.put("ENDIT1:\t\t\tli $v0, 10\n");
  pn(st, "syscall\n");
}

}  // namespace qv
