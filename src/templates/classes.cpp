// Class tables and trace points.
#include "emit/emit.h"
#include "templates/handlers.h"

namespace qv {

// Opens a class table in the data segment; the dispatcher switches back to
// the text segment at the first line that is not "mth".
void cls(State& st) {
  st.out.put("\t\t\t\t\t# cls -%s-%s- \n", st.p1, st.p2);
  st.in_data = 1;
  st.out.put("\t\t\t.data\n");
  st.out.put("%s:\t\t\t.word %s \t#superclass %s defined\n", st.p1, st.p2, st.p2);
}

void mth(State& st) {
  st.out.put("\t\t\t\t\t# mth -%s- \n", st.p1);
  st.out.put("\t\t\t.word %s \n", st.p1);
}

void dbg(State& st) {
  next_label(st, st.ilabel);
  pn(st, ".data");
  st.out.put("%s:\t\t\t.asciiz \"We are at %s\\n\"\n", st.ilabel, st.p1);
  pn(st, ".text");
  st.out.put("\t\t\tla $a0,%s\n", st.ilabel);
  pn(st, "li $v0, 4");
  pn(st, "syscall");
}

}  // namespace qv
