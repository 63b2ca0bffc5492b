// Dispatch of one tokenized line: the pass-through rules, then the handler.
#pragma once

#include <cstdint>
#include <string_view>

#include "state.h"

namespace qv {

using Handler = void (*)(State&);

// What an operand of a template must be.
enum class Arg : uint8_t {
  reg,     // a general register: r0..r13 or rr (mapped)
  freg,    // a float register: fpN (mapped)
  num,     // an integer written into an instruction (li, mul)
  nreg,    // an integer the handler maps first, so a register name is mangled
  dist,    // cal's display distance: an integer of -1 or more
  delta,   // var's static-link hops: an integer of 0 or more
  label,   // a label the line refers to
  def,     // a label the line defines
  value,   // cst: an integer, or a label whose address is loaded
  flit,    // cstf: a float literal
  word,    // dbg: any word, written into a string
  ret,     // rtn: a register to return (the count follows), or the count
  callee,  // cal: a register holding the procedure's address, or its label
  words,   // end: the main object's size in words
};

// The operands a template fills, in order (p1, p2, ...), how many of them it
// needs, which of them it writes, and whether it loads $v0 for a system call
// or a routine of its own.  Written as words: "reg num?" is a register and an
// optional number; "reg^" a register read and written, "reg>" one written
// only; "reg#" a register read where SPIM also takes a number (the
// instruction the template writes has an immediate form); a last word
// "uses-v0" says that $v0 does not survive the template.
struct Sig {
  uint8_t n = 0;           // operands the template reads
  uint8_t required = 0;    // of which the first `required` must be present
  uint8_t writes = 0;      // bit i: operand i+1 is written
  uint8_t write_only = 0;  // bit i: operand i+1 is written and not read
  uint8_t immediate = 0;   // bit i: operand i+1 may be a number instead
  bool uses_v0 = false;
  Arg arg[4] = {};

  consteval Sig(const char* s) {
    constexpr struct {
      const char* name;
      Arg arg;
    } names[] = {{"reg", Arg::reg},     {"freg", Arg::freg},   {"num", Arg::num},     {"nreg", Arg::nreg},
                 {"dist", Arg::dist},   {"delta", Arg::delta}, {"label", Arg::label}, {"def", Arg::def},
                 {"value", Arg::value}, {"flit", Arg::flit},   {"word", Arg::word},   {"ret", Arg::ret},
                 {"callee", Arg::callee}, {"words", Arg::words}};
    auto is = [&](int i, int j, const char* w) {
      int k = 0;
      while (w[k] && i + k < j && w[k] == s[i + k]) k++;
      return !w[k] && i + k == j;
    };
    int i = 0;
    while (s[i]) {
      while (s[i] == ' ') i++;
      int j = i;
      while (s[j] && s[j] != ' ' && s[j] != '?' && s[j] != '^' && s[j] != '>' && s[j] != '#') j++;
      if (is(i, j, "uses-v0")) {
        uses_v0 = true;
        i = j;
        continue;
      }
      bool found = false;
      for (const auto& nm : names) {
        if (!is(i, j, nm.name)) continue;
        if (n == 4) throw "more than four operands";
        arg[n++] = nm.arg;
        found = true;
      }
      if (!found) throw "unknown operand kind";
      bool optional = false;
      for (; s[j] == '?' || s[j] == '^' || s[j] == '>' || s[j] == '#'; j++) {
        uint8_t bit = static_cast<uint8_t>(1 << (n - 1));
        if (s[j] == '?') optional = true;
        if (s[j] == '#') immediate |= bit;
        if (s[j] == '^') writes |= bit;
        if (s[j] == '>') writes |= bit, write_only |= bit;
      }
      if (!optional) {
        if (required != n - 1) throw "a required operand after an optional one";
        required = n;
      }
      i = j;
    }
  }
};

// What a line with the opcode does, for people: the language server's hover
// and completion, and the manual's opcode table (quorvelin-ic(5)), which is
// written from these rows.  Operands are named p1, p2, ... by position.
// `reads` and `writes` list, separated by ", ": operands (p1 ...), "[pN]"
// for the word at the address pN holds, "rr", "r0..r13", and "stack",
// "heap", "console" and "flag" (the end-of-line flag); "" for nothing.
struct OpcodeDoc {
  const char* meaning = "";  // one line
  const char* reads = "";
  const char* writes = "";
};

struct OpcodeRow {
  const char* mnemonic;
  Handler handler;
  Sig sig;
  OpcodeDoc doc;
};

// The 60 rows, in table order.
extern const OpcodeRow opcode_table[60];

// The handler whose mnemonic equals `opcode` exactly, or nullptr.
Handler find_handler(std::string_view opcode);
// The row whose mnemonic equals `opcode` exactly, or nullptr.
const OpcodeRow* find_row(std::string_view opcode);

void jump_table(State& st);

}  // namespace qv
