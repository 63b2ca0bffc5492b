// A document's text as the editor addresses it: lines ended by "\n", and
// columns in UTF-16 code units, while the translator and the checker count
// bytes.  The text may hold any bytes: a byte that does not begin a valid
// UTF-8 sequence counts as one unit, as the editor's replacement character
// does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv::lsp {

struct Pos {
  uint32_t line = 0;  // 0-based
  uint32_t col = 0;   // UTF-16 units, 0-based
};

class Text {
 public:
  Text() { index(); }
  explicit Text(std::string s) : s_(std::move(s)) { index(); }

  const std::string& str() const { return s_; }
  uint32_t lines() const { return static_cast<uint32_t>(starts_.size()); }
  // Byte offsets of line l: its first byte, and the end of its text (before
  // "\n", and before "\r\n").
  uint32_t line_start(uint32_t l) const;
  uint32_t line_end(uint32_t l) const;
  std::string_view line(uint32_t l) const { return std::string_view(s_).substr(line_start(l), line_end(l) - line_start(l)); }
  // The line that holds byte offset off.
  uint32_t line_of(uint32_t off) const;

  // Byte offset -> position, and back (clamped to the line; a position inside
  // a character moves to its start).
  Pos pos(uint32_t off) const;
  uint32_t offset(Pos p) const;

  // Replaces bytes [from, to) with `with`.
  void replace(uint32_t from, uint32_t to, std::string_view with);
  void assign(std::string s) {
    s_ = std::move(s);
    index();
  }

 private:
  void index();
  std::string s_;
  std::vector<uint32_t> starts_;
};

// The length of the UTF-8 sequence at p (1 for an invalid byte) and the
// UTF-16 units it counts for.
void utf8_step(const unsigned char* p, std::size_t left, uint32_t& bytes, uint32_t& units);

}  // namespace qv::lsp
