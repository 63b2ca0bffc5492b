// The line loop of quorvelin-run: the same translation as read_ip, byte for
// byte, that also tells the caller where each piece's output begins.  The
// translator itself never takes this path.
#pragma once

#include <cstddef>

#include "input/line_reader.h"
#include "state.h"

namespace qv {

// What the traced loop reports for each piece of input.
class PieceObserver {
 public:
  virtual ~PieceObserver() = default;
  // Called after the piece is tokenized and before its output is written;
  // `at` is the number of bytes the sink holds, which is where the piece's
  // output begins.  `piece` is the piece's text (its `n` characters as read,
  // empty on the end-of-file pass) and the state holds its fields.
  virtual void piece(const State& st, const char* piece, int n, std::size_t at) = 0;
};

// Translates `ip` like read_ip.  `st.out` must write into `sink` (the
// in-memory Out): it is flushed after every piece so that the sink's size
// marks the boundaries.  Returns the sink's size before the first piece
// (the end of the header for file 0).
std::size_t read_ip_traced(State& st, LineReader& ip, int file_index, const std::string& sink,
                           PieceObserver& obs);

}  // namespace qv
