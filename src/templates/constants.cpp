// Constants, string literals and heap allocation.
#include "emit/emit.h"
#include "templates/handlers.h"

namespace qv {

// Only the 52 ASCII letters: bytes above 127 are not letters, whatever the
// locale of the machine that runs the translator.
bool cst_loads_address(std::string_view value) {
  for (char ch : value) {
    unsigned char c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  }
  return false;
}

// p1 is never mapped.
void cst(State& st) {
  Out& o = st.out;
  map(st, st.p2);
  o.put("\t\t\t\t\t# cst -%s-%s-\n", st.p1, st.p2);
  if (cst_loads_address(st.p1))
    o.put("\t\t\tla %s, %s  \t#Load register with address\n\n", st.p2, st.p1);
  else
    o.put("\t\t\tli %s, %s  \t#Load register with value\n\n", st.p2, st.p1);
}

void cstf(State& st) {
  Out& o = st.out;
  map(st, st.p2);
  o.put("\t\t\t\t\t# cstf -%s-%s-\n", st.p1, st.p2);
  o.put("\t\t\tli.s $f0, %s  \t#Load register with value\n\n", st.p1);
  o.put("\t\t\tmfc1 %s, $f0 \t#move floating literal from f register to gp\n", st.p2);
}

// The literal goes out as it stood; SPIM itself reads its escapes.
void str1(State& st) {
  Out& o = st.out;
  o.put("\t\t\t\t\t# str -%s-%s-\n", st.p1, st.strL);
  o.put("\t\t\t.data\n");
  o.put("%s:\t\t\t.asciiz \"%s\"\n", st.p1, st.strL);
  o.put("\t\t\t.text\n");
}

void alc(State& st) {
  Out& o = st.out;
  map(st, st.p1);
  map(st, st.p2);
  o.put("\t\t\t\t\t# alc -%s-%s- \n", st.p1, st.p2);
  o.put("\t\t\tlw $t8, heap\n");
  o.put("\t\t\tli $t9, -4 \t#Adjust heap\n");
  o.put("\t\t\tmove $t0, %s\n", st.p1);
  o.put("\t\t\tmul $t9, $t9, $t0\n");
  o.put("\t\t\tadd $t8, $t8, $t9\n");
  o.put("\t\t\tsw $t8, heap\t#New heap boundary\n");
  o.put("\t\t\tadd $t8 $t8, 4\t#Move base up 1 word from heap ptr\n");
  o.put("\t\t\tmove %s, $t8 \t#Base address of memory is assigned to %s\n", st.p2, st.p2);
}

}  // namespace qv
