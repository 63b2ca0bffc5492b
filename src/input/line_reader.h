// Reads an input in large blocks and hands it out in the pieces that
// fgets(buf, 100, ip) would return, with the end-of-file indicator that
// feof(ip) would show after each of them.
#pragma once

#include <cstddef>
#include <string>

#include "emit/out.h"

namespace qv {

class LineReader {
 public:
  static constexpr int kPiece = 99;  // characters per read, terminator not counted

  // Reads the open file descriptor fd; `name` is used in error messages.
  // Before every block read it flushes `out`, so output never waits for input.
  LineReader(int fd, std::string name, Out* out);
  // Reads from memory (tests, the fuzzer).
  LineReader(const char* data, std::size_t size);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Copies the next piece (up to 99 characters, through a line break) into
  // dst and returns its length; 0 means the read met end of file before its
  // first character.  dst needs room for 100 characters: bytes behind the
  // piece may be overwritten.  Throws Fatal on a read error.
  int read_piece(char* dst);
  // True once a read has met end of file.
  bool eof() const { return eof_; }

 private:
  bool refill();
  int read_piece_slow(char* dst);

  int fd_ = -1;
  std::string name_;
  Out* out_ = nullptr;
  char* block_ = nullptr;
  const char* pos_ = nullptr;
  const char* end_ = nullptr;
  bool drained_ = false;  // the source has nothing more to give
  bool eof_ = false;
};

}  // namespace qv
