// The run command's emission mode: the translation as it is, with a label
// of the run command's own ("__qvK:") before each instruction line of the
// text segment that can raise an exception, and at the end, in the data
// segment, the table "__qvmap: .word __qv0, __qv1, ..." ending at
// "__qvmapend".  Labels take no space, so no instruction is added and no
// address moves; the table lets a fault's address be traced back to the
// line.  The translator itself never writes this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// The prefix of the labels this mode adds; no program may define such a label.
inline constexpr std::string_view kMarkPrefix = "__qv";

struct MarkedAssembly {
  std::string text;                       // what runs
  std::vector<std::size_t> plain_starts;  // offset of each line of the translation
  std::vector<int32_t> run_to_plain;      // per line of `text`: the translation's line, or -1
  std::vector<uint32_t> label_line;       // per label K: the translation's line it stands before

  // The translation's line n (0-based) without its line break.
  std::string_view plain_line(std::string_view plain, uint32_t n) const;
};

// Marks the translation `plain` (exactly what the translator writes).
void mark_faults(std::string_view plain, MarkedAssembly& a);

// The debugger's marking: a label before every instruction line of the text
// segment, each declared ".globl" just before it so that SPIM's command mode
// lists it (print_symbols); the program's own labels are declared global too.
// Directives take no space either.
void mark_lines(std::string_view plain, MarkedAssembly& a);

// The first column of an instruction line: past a label and blanks.
uint32_t code_column(std::string_view line);

}  // namespace qv
