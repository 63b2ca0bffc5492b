// One program, its files in order, read the way the translator reads it: the
// core's reader cuts each file into pieces, the core's tokenizer finds each piece's parts, and the
// core's dispatcher translates it, with the output of every piece kept apart.
// Labels, their definitions and uses, come from the opcode table's operand
// signatures.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch/jump_table.h"

namespace qv::lsp {

// A token of a piece: its byte offset in the document and its length.
struct Tok {
  uint32_t off = 0, len = 0;
  uint32_t end() const { return off + len; }
};

// What the reader hands the translator at a time: a line, or a part of one
// longer than 99 characters.
struct Piece {
  uint32_t file = 0;        // index of its file in the program
  uint32_t line = 0;        // 0-based line of the file
  uint32_t start = 0;       // byte offset of its first character in the file
  uint32_t len = 0;         // characters read
  uint32_t code_end = 0;    // byte offset where its code ends (comment or end)
  Tok label;                // the label a colon defines, blanks trimmed (len 0: none)
  int64_t colon = -1;       // byte offset of that colon
  Tok literal;              // between the first and the last double quote
  Tok tok[6];               // the opcode and p1..p5 (len 0: absent)
  int ntok = 0;             // tokens present
  uint8_t label_ops = 0;    // bit i: operand i (tok[i + 1]) names a label
  uint8_t def_ops = 0;      // bit i: and defines it
  const OpcodeRow* row = nullptr;
  uint32_t out_begin = 0, out_end = 0;  // its translation in Analysis::out
};

enum class LabelKind : uint8_t { line, procedure, table, string };

struct Occurrence {
  uint32_t file = 0;
  uint32_t piece = 0;
  Tok at;
  bool def = false;
  LabelKind kind = LabelKind::line;  // of a definition
};

struct LabelInfo {
  std::vector<Occurrence> defs, uses;
};

struct FileIndex {
  uint32_t first_piece = 0, end_piece = 0;  // its pieces in Analysis::pieces
  // Every occurrence of a label in the file, for lookups at a position.
  std::vector<std::pair<Tok, std::string>> occurrences;  // sorted by offset
};

struct Analysis {
  std::string out;                  // the whole translation, header first
  std::vector<Piece> pieces;        // in input order, file after file
  std::vector<FileIndex> files;
  std::map<std::string, LabelInfo, std::less<>> labels;

  // Reads the program's files in order.  What an earlier build allocated is
  // kept and filled again: a document edited and read again and again
  // neither moves its memory around nor grows.
  void build(const std::vector<std::string_view>& texts);

  // The piece of file `file` that holds byte offset off (nullptr past the text).
  const Piece* piece_at(uint32_t file, uint32_t off) const;
  // The label occurrence under byte offset off ("" when none); `at` gets its place.
  std::string_view label_at(uint32_t file, uint32_t off, Tok* at = nullptr) const;
};

}  // namespace qv::lsp
