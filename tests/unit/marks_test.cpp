// The run command's emission mode adds labels and a table and nothing else:
// taking them out gives back the translation byte for byte, and no label
// stands in the data segment or before a line that is not an instruction.
#include <gtest/gtest.h>

#include <string>

#include "emit/marks.h"
#include "support.h"

namespace {

const char* kProgram =
    "cls C, C\n\tmth M\n"
    "ntr M, 0\n\trtn 0\n"
    "ntr Main, 0\n"
    "\tstr S \"x\"\n\tcst S, r0\n\tpstr r0\n"
    "\tvar 0, 2, r1\n\tval r1\n\tcst 0, r2\n\tdiv r2, r1\n"
    "L1:\tcst M, r3\n\tcal -1, r3\n\tbrf r1, L1\n"
    "\tgbln r4\n\tdbg here\n"
    "\trtn 1\n"
    "end 1, C, Main\n";

TEST(Marks, OnlyLabelsAndATableAreAdded) {
  std::string plain = qv::test::translate({kProgram}, true).out;
  qv::MarkedAssembly a;
  qv::mark_faults(plain, a);

  std::string back;
  bool in_text = false;
  std::size_t at = 0, labels = 0;
  std::string_view all = a.text;
  std::string_view table = all.substr(all.rfind("\t.data\n__qvmap:"));
  all.remove_suffix(table.size());
  while (at < all.size()) {
    std::size_t nl = all.find('\n', at);
    std::string_view line = all.substr(at, nl - at);
    at = nl + 1;
    if (line.rfind("__qv", 0) == 0) {
      EXPECT_EQ(line, "__qv" + std::to_string(labels++) + ":");
      EXPECT_TRUE(in_text);
      // The next line holds an instruction, not a comment or a directive.
      std::string_view next = all.substr(at, all.find('\n', at) - at);
      std::string_view code = next.substr(qv::code_column(next) - 1);
      EXPECT_FALSE(code.empty() || code[0] == '#' || code[0] == '.') << next;
      continue;
    }
    std::string_view code = line.substr(std::min(line.size(), std::size_t(qv::code_column(line) - 1)));
    if (code.rfind(".text", 0) == 0) in_text = true;
    if (code.rfind(".data", 0) == 0) in_text = false;
    back.append(line);
    back += '\n';
  }
  EXPECT_EQ(back, plain);
  EXPECT_EQ(labels, a.label_line.size());
  EXPECT_GT(labels, 10u);
  // Every label is in the table, in order.
  std::size_t from = 0;
  for (std::size_t k = 0; k < labels; k++) {
    std::string name = "__qv" + std::to_string(k);
    std::size_t p = table.find(name, from);
    ASSERT_NE(p, std::string_view::npos) << k;
    char after = table[p + name.size()];
    EXPECT_TRUE(after == ',' || after == '\n') << k;
    from = p + name.size();
  }
}

}  // namespace
