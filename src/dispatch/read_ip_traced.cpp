#include "dispatch/read_ip_traced.h"

#include <string>

#include "dispatch/jump_table.h"
#include "emit/frame.h"
#include "input/lines.h"
#include "input/tokenizer.h"

namespace qv {

std::size_t read_ip_traced(State& st, LineReader& ip, int file_index, const std::string& sink,
                           PieceObserver& obs) {
  if (file_index == 0) gen_header(st);
  st.out.flush();
  std::size_t start = sink.size();
  each_piece(st, ip, [&](int len, int n) {
    // The tokenizer writes terminators into the buffer: keep the text first.
    char text[kLinePositions];
    std::memcpy(text, st.line.b, static_cast<std::size_t>(n));
    tokonize(st, len);
    obs.piece(st, text, n, sink.size());
    jump_table(st);
    st.out.flush();
  });
  return start;
}

}  // namespace qv
