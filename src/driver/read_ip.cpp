#include "driver/read_ip.h"

#include "dispatch/jump_table.h"
#include "emit/frame.h"
#include "input/tokenizer.h"

namespace qv {

void read_ip(State& st, LineReader& ip, int file_index) {
  if (file_index == 0) gen_header(st);
  char* b = st.line.b;
  for (;;) {
    int n = ip.read_piece(b);
    // Nothing read: the buffer still holds its blanks.
    int len = n > 0 ? n : kLinePositions;
    tokonize(st, len);
    jump_table(st);
    st.line.clear();
    st.out.maybe_flush();
    if (ip.eof()) break;
  }
}

}  // namespace qv
