// Splits one line of intermediate code into the operand fields.
#pragma once

#include "state.h"

namespace qv {

// Cuts the comment, takes out the label and the string literal, turns commas
// and tabs into blanks and takes six blank-separated tokens into `opcode` and
// `p1`..`p5`.  `len` is the length of the line as a C string (at most 100).
void tokonize(State& st, int len);

}  // namespace qv
