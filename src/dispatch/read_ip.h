// The line loop over one input file.
#pragma once

#include "input/line_reader.h"
#include "state.h"

namespace qv {

// Translates every line of `ip`; the first file (index 0) writes the program
// header before its first line.
void read_ip(State& st, LineReader& ip, int file_index);

}  // namespace qv
