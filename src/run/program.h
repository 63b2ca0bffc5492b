// The program as quorvelin-run holds it: the input files, their translation
// (exactly what quorvelin writes), where each intermediate-code line's code
// lies in it, and the assembly that is actually run, which adds labels and a
// table of their addresses and nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>
#include <cstring>

#include "check/diag.h"
#include "emit/marks.h"
#include "emit/out.h"
#include "state.h"

namespace qv::run {

// One input file, read whole.
struct Source {
  std::string name;
  std::string text;
  std::vector<std::size_t> starts;  // offset of each line; starts[0] = 0

  uint32_t lines() const { return static_cast<uint32_t>(starts.size()); }
  // Line n (1-based) without its line break.
  std::string_view line(uint32_t n) const;
};

// Reads every file; on failure returns false with a message in `error`.
bool read_sources(const std::vector<std::string>& names, std::vector<Source>& out, std::string& error);

// Checks the sources as one program with the checker's rules, as they stand
// around the runner's own start-up code (its labels reserved; `stack` is the
// -lstack size given, 0 for SPIM's default), and prints the diagnostics on
// standard error under the name `tool`.  True when there is an error.
bool check_sources(const std::vector<std::string>& names, const std::vector<Source>& srcs, uint64_t stack,
                   const char* tool);
// The same, with the diagnostics as text in `text` instead (a front end
// that shows them in a window of its own).
bool check_sources(const std::vector<std::string>& names, const std::vector<Source>& srcs, uint64_t stack,
                   const char* tool, std::string& text);

// A piece of input as the translator reads it (at most 99 characters of a line).
struct Piece {
  uint32_t file = 0;
  uint32_t line = 0;    // 1-based
  uint32_t col = 1;     // where the piece begins in its line (1, 100, 199, ...)
  char op[4] = {};      // the opcode the translator read in it ("" for a longer word)
  std::size_t at = 0;   // where its output begins in the translation

  std::string_view opcode() const { return {op, op[3] ? 4u : std::strlen(op)}; }
};

// The text of piece `p`: the positions of its line the translator read for it.
std::string_view piece_text(const std::vector<Source>& srcs, const Piece& p);

// Reads a line as the translator does: the fields its tokenizer finds, and
// the registers its templates name for them.  One reader serves many lines.
class Fields {
 public:
  Fields();
  // Reads `text`, a piece of a line (at most 99 positions are read).
  void read(std::string_view text);
  std::string_view opcode() const { return st_.opcode.sv(); }
  // The label's name (what comes before its colon, without blanks), "" when
  // the line has none.
  std::string_view label() const;
  // Operand i (0 for p1 to 4 for p5) as written, "" when absent.
  std::string_view operand(int i) const;
  // The general register operand i names once the translator has mapped it
  // (rN is $(N+9), rr is $2), -1 when it names none.
  int general(int i);
  // The float register operand i names (fpN is $fN), -1 when none.
  int floating(int i);
  // Operand i as a plain decimal number, -1 when it is not one.
  long number(int i) const;

 private:
  // What map() names operand i, in `into`.
  void mapped(int i, Field& into);
  std::string out_text_, err_text_;
  Out out_, err_;
  State st_;
};

// Labels the runner adds to the assembly it runs.  None of them may be
// defined by a program (the checker is told so).
inline constexpr std::string_view kLabelPrefix = kMarkPrefix;

struct Translation {
  std::string plain;               // byte for byte what quorvelin writes
  std::vector<Piece> pieces;       // in input order, `at` ascending
  std::vector<uint32_t> input_ops; // pieces whose opcode is gbln or gchr
  std::vector<uint32_t> ends;      // pieces whose opcode is end
  std::vector<std::pair<uint32_t, std::string>> entries;  // pieces whose opcode is ntr, with their labels
  bool reads = false;              // the program reads input (gint, gflt, gbln, gchr, gstr)

  // The piece whose output holds byte `offset`, or -1 (the program's header).
  int32_t piece_at(std::size_t offset) const;
  // The ntr piece of the procedure piece `piece` lies in, or -1: before the
  // first ntr, and on and after an end line (the start-up code that calls
  // the main procedure lies in none).
  int32_t entry_of(int32_t piece) const;
  // The label of that procedure, or "".
  std::string_view procedure_of(int32_t piece) const;
};

// Translates the sources as one program, as quorvelin does.  Throws Fatal.
void translate(const std::vector<Source>& srcs, Translation& t);

// The assembly that runs: the core's marked emission of the translation.
using Assembly = MarkedAssembly;

inline void assemble(const Translation& t, Assembly& a) { mark_faults(t.plain, a); }

// The line markers ("//#line N "FILE"", read by the checker's line_marker)
// of the sources, resolved on demand.
class Markers {
 public:
  explicit Markers(const std::vector<Source>& srcs) : srcs_(srcs) {}
  // Fills loc.src_file/src_line for loc.file/loc.line, adding file names to
  // `names` as needed.
  void place(check::Loc& loc, std::vector<std::string>& names) const;

 private:
  const std::vector<Source>& srcs_;
};

}  // namespace qv::run
