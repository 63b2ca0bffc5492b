// The debugger's marking: a label before every instruction line of the text
// segment, each declared global just before it (SPIM lists a label in
// command mode only when .globl came before its definition), the program's
// own labels declared global too, and nothing else: taking them out gives
// back the translation.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

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
  std::vector<std::string> own;
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
    if (line.rfind("\t.globl ", 0) == 0) {
      // The program's own labels are declared global before they are
      // defined (the translation declares some itself).
      own.emplace_back(line.substr(8));
      continue;
    }
    if (std::size_t colon = line.find(':'); colon != std::string_view::npos && colon > 0 &&
                                            line.find_first_of(" \t#\"") > colon) {
      EXPECT_NE(std::find(own.begin(), own.end(), line.substr(0, colon)), own.end()) << line;
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
  // Without the .globl lines, the translation as it was.
  std::string plain_back;
  for (std::size_t p = 0; p < plain.size();) {
    std::size_t nl = plain.find('\n', p);
    std::string_view line = std::string_view(plain).substr(p, nl - p);
    if (line.rfind("\t.globl ", 0) != 0) {
      plain_back.append(line);
      plain_back += '\n';
    }
    p = nl + 1;
  }
  EXPECT_EQ(back, plain_back);
  EXPECT_EQ(k, a.label_line.size());
  EXPECT_EQ(instructions, k);
  // The statement label and the procedure's, at least.
  EXPECT_NE(std::find(own.begin(), own.end(), "L1"), own.end());
  EXPECT_NE(std::find(own.begin(), own.end(), "Main"), own.end());
}

}  // namespace
