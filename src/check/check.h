// The checker: reads an intermediate program exactly as the translator reads
// it (the same reader, tokenizer and opcode table) and reports, at the line
// where it was written, everything that SPIM will reject, mis-run or hang on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "check/diag.h"

namespace qv::check {

// The rules, each with a stable name for -W.
enum Rule : int {
  unknown_opcode,
  line_too_long,
  operand_count,
  extra_operand,
  operand_kind,
  register_range,
  float_register,
  duplicate_label,
  undefined_label,
  reserved_label,
  pass_through,
  non_ascii,
  string_literal,
  program_end,
  class_table,
  result_register,
  argument_count,
  heap_size,
  kRules
};

// "unknown-opcode", ... in Rule order.
const std::vector<std::string_view>& rule_names();
// The rule of that name, or -1.
int find_rule(std::string_view name);

struct Settings {
  bool on[kRules];
  // Labels that the run-time support around the program defines besides the
  // program's own frame (the runner's start-up code): defining one is an error.
  std::vector<std::string> reserved;
  // Prefixes of labels it defines in numbers (__qv0, __qv1, ...).
  std::vector<std::string> reserved_prefixes;
  // SPIM is given a stack limit of its own (-lstack): frames larger than
  // its default stack are then the user's choice.
  bool stack_set = false;
  Settings() {
    for (bool& b : on) b = true;
  }
};

// Checks `files` as one program, in the order given, and adds what it finds
// to `diags` (whose file_names it sets).  Returns false, with a message for
// the user in `io_error`, when a file cannot be opened or read.
bool check_files(const std::vector<std::string>& files, const Settings& settings, Diags& diags,
                 std::string& io_error);

// The same over texts in memory (tests, the fuzzer): names[i] holds texts[i].
void check_texts(const std::vector<std::string>& names, const std::vector<std::string>& texts,
                 const Settings& settings, Diags& diags);

// A line marker, "//#line N" or "//#line N "FILE"", at the start of a line
// (blanks before it allowed).  On a match sets n and, when the marker names
// one, file.
bool line_marker(std::string_view line, uint32_t& n, std::string& file, bool& has_file);

// Where the line markers of one file, seen in order, place its later lines:
// the checker and the runner both go through this.
class MarkerTrack {
 public:
  // Looks at line `line` of the file named `file`; when it is a marker, the
  // lines after it count from the marker's N in its FILE (or the file of the
  // marker before, or `file` itself), whose name `names` then holds.
  bool see(std::string_view text, uint32_t line, std::string_view file, std::vector<std::string>& names);
  // Fills loc.src_file and loc.src_line for a line after those seen.
  void place(Loc& loc) const {
    if (file_ < 0) return;
    loc.src_file = file_;
    loc.src_line = n_ + (loc.line - at_ - 1);
  }

 private:
  int32_t file_ = -1;  // index into names; -1: no marker yet
  uint32_t n_ = 0, at_ = 0;
};

}  // namespace qv::check
