// Splits one line of intermediate code into the operand fields.
#pragma once

#include "state.h"

namespace qv {

// Cuts the comment, takes out the label and the string literal, reads commas
// and tabs as blanks and takes six blank-separated tokens into `opcode` and
// `p1`..`p5`.  `len` (at most 100) is how many characters the buffer holds;
// a terminator is put behind them, and the line ends at the first one, as a
// C string does.
void tokonize(State& st, int len);

// Where the tokenizer finds the parts of a terminated line buffer: `end` is
// where its code ends (the first "//" at positions 0 to 98, or the
// terminator), `comment` says which; `colon` is the label's colon and the
// quotes bound the literal (each -1 when absent).  Tools that look at a line
// the way the translator does ask this rather than scan it themselves.
struct LineShape {
  int end = 0;
  bool comment = false;
  int colon = -1, first_quote = -1, last_quote = -1;
};
// `b` is a line buffer: kLinePositions positions and the terminator behind.
LineShape line_shape(const char* b);

}  // namespace qv
