// What the editor shows about an opcode: its operands, written from the
// opcode table's signature, and the table's one line on what the line does
// (the manual's opcode table shows the same).
#pragma once

#include <string>
#include <string_view>

#include "dispatch/jump_table.h"

namespace qv::lsp {

// One line on what a line with this opcode does ("" for none).
std::string_view opcode_summary(std::string_view mnemonic);

// "add reg, reg" with optional operands in brackets.
std::string signature_text(const OpcodeRow& row);
// The same as a snippet with a placeholder for every required operand
// ("add ${1:reg}, ${2:reg}"; str gets a literal as well).
std::string signature_snippet(const OpcodeRow& row);

}  // namespace qv::lsp
