#include "driver/read_ip.h"

#include <cstring>

#include "dispatch/jump_table.h"
#include "emit/frame.h"
#include "input/tokenizer.h"

namespace qv {

void read_ip(State& st, LineReader& ip, int file_index) {
  if (file_index == 0) gen_header(st);
  char* b = st.line.b;
  for (;;) {
    int n = ip.read_piece(b);
    int len;
    if (n > 0) {
      b[n] = '\0';
      const void* nul = std::memchr(b, '\0', n);
      len = nul ? static_cast<int>(static_cast<const char*>(nul) - b) : n;
    } else {
      len = kLinePositions;  // nothing read: the buffer still holds its blanks
    }
    tokonize(st, len);
    jump_table(st);
    st.line.clear();
    st.out.maybe_flush();
    if (ip.eof()) break;
  }
}

}  // namespace qv
