// Semantic tokens: what each part of a line is, as the translator reads it,
// for an editor to colour where a grammar cannot tell (a label that looks
// like a register, a line the reader cuts in two, an opcode's operands).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lsp/analysis.h"
#include "lsp/text.h"

namespace qv::lsp {

// The legend, in the order of the type numbers:
//   keyword  an opcode the table knows
//   label    a label; with the modifier "declaration" where it is defined
//   variable a register (r0..r13, rr, fpN, $-registers)
//   number   an integer or float literal operand
//   string   a string literal, with its quotes
//   comment  a comment
//   macro    a line marker (//#line N "FILE")
const std::vector<std::string>& token_types();
const std::vector<std::string>& token_modifiers();

// The tokens of file `file` of the analysed program, in the protocol's
// relative encoding (line delta, start delta, length, type, modifiers),
// columns in UTF-16 units.
std::vector<uint32_t> semantic_tokens(const Analysis& a, uint32_t file, const Text& text);

}  // namespace qv::lsp
