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

}  // namespace qv
