// Everything the translator remembers while it runs, in one place.  The line
// loop, the tokenizer, the dispatcher and every handler receive this object;
// nothing else keeps state.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "emit/out.h"

namespace qv {

// One position more than a read can fill, and the terminator behind it.
constexpr int kLinePositions = 100;

// The line buffer: positions 0..99 and a terminator that always stays behind
// position 99, so a blanked buffer reads as a line of 100 blanks.
struct LineBuf {
  char b[kLinePositions + 1];
  LineBuf() { clear(); }
  void clear() {
    std::memset(b, ' ', kLinePositions);
    b[kLinePositions] = '\0';
  }
};

// An operand field: a token of the current line, or the register name that
// `map` put in its place.  Tokens point into the line buffer; a mapped name
// lives in `own`.
struct Field {
  const char* p = "";
  uint32_t n = 0;
  char own[8] = {};

  Field() = default;
  Field(const Field&) = delete;
  Field& operator=(const Field&) = delete;

  std::string_view sv() const { return {p, n}; }
  operator std::string_view() const { return sv(); }
  // The character at i, or the terminator past the end (as a C string reads).
  char at(uint32_t i) const { return i < n ? p[i] : '\0'; }
  bool empty() const { return n == 0; }
  bool operator==(std::string_view s) const { return sv() == s; }

  void point(const char* q, uint32_t k) {
    p = q;
    n = k;
  }
  // Replaces the field by `s` (at most 7 characters).
  void set(std::string_view s) {
    std::memcpy(own, s.data(), s.size());
    p = own;
    n = static_cast<uint32_t>(s.size());
  }
};

// A text that outlives its line (the label, the string literal).
struct Text {
  char s[kLinePositions] = {};
  uint32_t n = 0;
  std::string_view sv() const { return {s, n}; }
  operator std::string_view() const { return sv(); }
  void set(const char* q, uint32_t k) {
    std::memcpy(s, q, k);
    n = k;
  }
};

// An internal label, "_ML" and the decimal value of the counter.
struct Label {
  char s[24] = {};
  uint32_t n = 0;
  std::string_view sv() const { return {s, n}; }
  operator std::string_view() const { return sv(); }
};

struct State {
  explicit State(Out& out, Out& err) : out(out), err(err) {}

  Out& out;  // the assembly
  Out& err;  // the "floating reg is" trace lines

  LineBuf line;

  // The operand fields of the current line.
  Field opcode, p1, p2, p3, p4, p5;
  Text lbl;   // the line's label, colon included; kept on lines without one
  Text strL;  // text between the first and last double quote; kept likewise

  int found_lbl = 0;  // the current line carried a label
  int in_data = 0;    // a class table is open in the data segment

  uint64_t internal_label_cnt = 0;  // never reset: labels stay unique
  Label ilabel;                     // the label most recently allocated
};

}  // namespace qv
