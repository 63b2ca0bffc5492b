// An opcode's operands as people read them, written from the opcode table's
// signature: the language server shows them and the manual lists them.
#pragma once

#include <string>
#include <string_view>

#include "dispatch/jump_table.h"

namespace qv {

// The operand's name ("reg", "label", ...).
std::string_view arg_name(Arg a);

// The operands in order, optional ones in brackets: "reg, reg",
// "reg|count, [num]"; str's literal too ("name \"text\""); "" for none.
std::string operands_text(const OpcodeRow& row);

}  // namespace qv
