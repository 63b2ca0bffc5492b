// Dispatch of one tokenized line: the pass-through rules, then the handler.
#pragma once

#include <string_view>

#include "state.h"

namespace qv {

using Handler = void (*)(State&);

struct OpcodeRow {
  const char* mnemonic;
  Handler handler;
};

// The 60 rows, in table order.
extern const OpcodeRow opcode_table[60];

// The handler whose mnemonic equals `opcode` exactly, or nullptr.
Handler find_handler(std::string_view opcode);

void jump_table(State& st);

}  // namespace qv
