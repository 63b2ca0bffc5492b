// The debugger's marking: a label before every instruction line of the text
// segment, each declared global just before it (SPIM lists a label in
// command mode only when .globl came before its definition), and nothing
// else: taking them out gives back the translation.
#include <gtest/gtest.h>

#include <string>

#include "emit/marks.h"
#include "support.h"

namespace {

TEST(MarksLines, EveryInstructionLineGetsAGlobalLabel) {
  const char* program =
      "cls C, C\n"
      "ntr Main, 0\n"
      "\tcst 3, r0\n"
      "L1:\tpint r0\n"
      "\tbrf r0, L1\n"
      "\trtn 1\n"
      "end 1, C, Main\n";
  std::string plain = qv::test::translate({program}, true).out;
  qv::MarkedAssembly a;
  qv::mark_lines(plain, a);
  qv::MarkedAssembly faults;
  qv::mark_faults(plain, faults);
  EXPECT_GT(a.label_line.size(), faults.label_line.size());

  std::string_view all = a.text;
  all.remove_suffix(all.size() - all.rfind("\t.data\n__qvmap:"));
  std::string back;
  std::size_t at = 0, k = 0, instructions = 0;
  bool in_text = false, labelled = false;
  while (at < all.size()) {
    std::size_t nl = all.find('\n', at);
    std::string_view line = all.substr(at, nl - at);
    at = nl + 1;
    if (line == "\t.globl __qv" + std::to_string(k)) {
      std::string_view next = all.substr(at, all.find('\n', at) - at);
      EXPECT_EQ(next, "__qv" + std::to_string(k) + ":");
      at = all.find('\n', at) + 1;
      k++;
      labelled = true;
      continue;
    }
    std::string_view code = line.substr(std::min(line.size(), std::size_t(qv::code_column(line) - 1)));
    if (code.rfind(".text", 0) == 0) in_text = true;
    if (code.rfind(".data", 0) == 0) in_text = false;
    bool instruction = in_text && !code.empty() && code[0] != '#' && code[0] != '.';
    if (instruction) instructions++;
    EXPECT_EQ(instruction, labelled) << line;
    labelled = false;
    back.append(line);
    back += '\n';
  }
  EXPECT_EQ(back, plain);
  EXPECT_EQ(k, a.label_line.size());
  EXPECT_EQ(instructions, k);
}

}  // namespace
