// The line loop as every command sees it: one piece of at most 99 characters
// at a time, and the end-of-file pass over a line of blanks after a file that
// ends with a line break.
#pragma once

#include "input/line_reader.h"
#include "state.h"

namespace qv {

// Reads each piece of `ip` into the state's line buffer and calls
// f(len, n): `len` is what the tokenizer is to take (the piece's length, or
// the whole blank buffer when the read met end of file at once), `n` the
// number of characters read (0 on the end-of-file pass).  The buffer is
// blanked after every call.
template <class F>
[[gnu::always_inline]] inline void each_piece(State& st, LineReader& ip, F&& f) {
  char* b = st.line.b;
  for (;;) {
    int n = ip.read_piece(b);
    f(n > 0 ? n : kLinePositions, n);
    st.line.clear();
    if (ip.eof()) break;
  }
}

}  // namespace qv
