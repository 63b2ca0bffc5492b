// Variable addressing and memory access.
#include "emit/emit.h"
#include "templates/handlers.h"

namespace qv {

// The walk over the static links is the shared routine _var_; this only
// passes it the distance and displacement and collects the address.
void var(State& st) {
  Out& o = st.out;
  map(st, st.p3);
  o.put("\t\t\t\t\t###### var delta-%s disp-%s reg-%s-\n", st.p1, st.p2, st.p3);
  o.put("\t\t\tli $a0, %s\t\t#load delta into a0\n", st.p1);
  o.put("\t\t\tli $a1, %s\t\t#load displacement into a1\n", st.p2);
  pn(st, "jal _var_");
  o.put("\t\t\tmove %s, $v0\t\t#Move var to return reg%s\n", st.p3, st.p3);
}

void val(State& st) {
  map(st, st.p1);
  st.out.put("\t\t\t\t\t# val -%s-\n", st.p1);
  st.out.put("\t\t\tlw %s, 0(%s)  \t#move value of the reg into reg\n\n", st.p1, st.p1);
}

void valf(State& st) {
  map(st, st.p1);
  map(st, st.p2);
  st.out.put("\t\t\t\t\t# valf -%s-%s-\n", st.p1, st.p2);
  st.out.put("\t\t\tl.s %s, 0(%s)  \t#move value of the reg into float reg\n", st.p2, st.p1);
}

// The index register is consumed: it ends holding the byte offset.
void ndx(State& st) {
  Out& o = st.out;
  map(st, st.p1);
  map(st, st.p4);
  o.put("\t\t\t\t\t# ndx -%s-%s-%s-%s-\n", st.p1, st.p2, st.p3, st.p4);
  o.put("\t\t\tli $t8, %s\t#load size into t8 and mul by word size 4\n", st.p3);
  o.put("\t\t\tmul $t8, $t8, 4\n");
  o.put("\t\t\tli $t0, %s\t#load lbound into t0 sub from %s * size\n", st.p2, st.p1);
  o.put("\t\t\tsub %s,%s,$t0\n", st.p1, st.p1);
  o.put("\t\t\tmul %s,%s,$t8\n", st.p1, st.p1);
  o.put("\t\t\tadd %s,%s,%s\t#add to base %s\n", st.p4, st.p4, st.p1, st.p4);
}

// Leaves the field's address in the base register; nothing is loaded.
void sel(State& st) {
  Out& o = st.out;
  map(st, st.p2);
  o.put("\t\t\t\t\t# sel -%s-%s- \n", st.p1, st.p2);
  o.put("\t\t\tli $t9, %s \t#load displacement\n", st.p1);
  o.put("\t\t\tmul $t8, $t9, 4  \t#displacement multiplied by 4\n");
  o.put("\t\t\tadd $t8, $t8, %s \t#added to base supplied by register %s\n", st.p2, st.p2);
  o.put("\t\t\tmove %s, $t8    \t#move value pointed by $t8 to reg\n\n", st.p2);
}

void sto(State& st) {
  map(st, st.p1);
  map(st, st.p2);
  st.out.put("\t\t\t\t\t# sto -%s-%s-\n", st.p1, st.p2);
  st.out.put("\t\t\tsw %s, 0(%s) \t\n\n", st.p1, st.p2);
}

void mov(State& st) {
  map(st, st.p1);
  map(st, st.p2);
  st.out.put("\t\t\t\t\t# mov -%s-%s-\n", st.p1, st.p2);
  st.out.put("\t\t\tmove %s, %s\n", st.p2, st.p1);
}

}  // namespace qv
