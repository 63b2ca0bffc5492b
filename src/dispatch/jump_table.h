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

// The operands a template fills, in order (p1, p2, ...), and how many of
// them it needs.  Written as words: "reg num?" is a register and an optional
// number.
struct Sig {
  uint8_t n = 0;         // operands the template reads
  uint8_t required = 0;  // of which the first `required` must be present
  Arg arg[4] = {};

  consteval Sig(const char* s) {
    constexpr struct {
      const char* name;
      Arg arg;
    } names[] = {{"reg", Arg::reg},     {"freg", Arg::freg},   {"num", Arg::num},     {"nreg", Arg::nreg},
                 {"dist", Arg::dist},   {"delta", Arg::delta}, {"label", Arg::label}, {"def", Arg::def},
                 {"value", Arg::value}, {"flit", Arg::flit},   {"word", Arg::word},   {"ret", Arg::ret},
                 {"callee", Arg::callee}, {"words", Arg::words}};
    int i = 0;
    while (s[i]) {
      while (s[i] == ' ') i++;
      int j = i;
      while (s[j] && s[j] != ' ' && s[j] != '?') j++;
      bool found = false;
      for (const auto& nm : names) {
        int k = 0;
        while (nm.name[k] && i + k < j && nm.name[k] == s[i + k]) k++;
        if (!nm.name[k] && i + k == j) {
          if (n == 4) throw "more than four operands";
          arg[n++] = nm.arg;
          found = true;
        }
      }
      if (!found) throw "unknown operand kind";
      if (s[j] == '?') {
        j++;
      } else {
        if (required != n - 1) throw "a required operand after an optional one";
        required = n;
      }
      i = j;
    }
  }
};

struct OpcodeRow {
  const char* mnemonic;
  Handler handler;
  Sig sig;
};

// The 60 rows, in table order.
extern const OpcodeRow opcode_table[60];

// The handler whose mnemonic equals `opcode` exactly, or nullptr.
Handler find_handler(std::string_view opcode);
// The row whose mnemonic equals `opcode` exactly, or nullptr.
const OpcodeRow* find_row(std::string_view opcode);

void jump_table(State& st);

}  // namespace qv
