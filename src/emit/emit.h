// What every handler uses: register mapping, internal labels, indented lines.
#pragma once

#include <cstdint>
#include <string_view>

#include "state.h"

namespace qv {

// Decimal digits of v into s (no sign, no leading zeros); a negative value
// gives the empty text.  Returns the number of characters written.
int itoa(long long v, char* s);

// 1 when the operand already names a MIPS register (begins with "$").
int isreg(std::string_view s);

// "_ML" and the decimal digits of n.
void new_ilabel(uint64_t n, Label& l);

// Allocates the next internal label into l.
inline void next_label(State& st, Label& l) { new_ilabel(st.internal_label_cnt++, l); }

// rN -> $(N+9), rr -> $v0, fpN -> $fN (and the "floating reg is" trace line on
// standard error); anything else, or anything longer than four characters,
// is left alone.
void map(State& st, Field& f);

// The indented line "\t\t\t" + text + "\n"; the text is data.
inline void pn(State& st, std::string_view text) { st.out.put("\t\t\t%s\n", text); }

}  // namespace qv
