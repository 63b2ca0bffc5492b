#include <gtest/gtest.h>

#include <set>
#include <string>

#include "dispatch/jump_table.h"
#include "support.h"

using qv::test::lines;

TEST(OpcodeTable, SixtyDistinctRowsAndExactLookup) {
  std::set<std::string> names;
  for (const auto& row : qv::opcode_table) {
    names.insert(row.mnemonic);
    EXPECT_EQ(qv::find_handler(row.mnemonic), row.handler) << row.mnemonic;
    ASSERT_NE(row.handler, nullptr) << row.mnemonic;
  }
  EXPECT_EQ(names.size(), 60u);
  EXPECT_EQ(qv::find_handler("eqlf"), qv::find_handler("eql"));
  EXPECT_EQ(qv::find_handler("neqf"), qv::find_handler("neq"));
  for (const char* s : {"", "a", "Add", "ADD", "addd", "ad", "addff", "endx", "r", "or ", "L12"})
    EXPECT_EQ(qv::find_handler(s), nullptr) << s;
  EXPECT_NE(qv::find_handler("or"), nullptr);
}

TEST(Dispatch, LinesBeginningWithL) {
  EXPECT_EQ(lines("L12 j L14\n").out, "L12\t\t\tj L14\n");
  EXPECT_EQ(lines("L12 jump L14\n").out, "L12\t\t\tj L14\n");
  EXPECT_EQ(lines("L12 x\n").out, "L12\t\t\tx \n");
  EXPECT_EQ(lines("L12\n").out, "L12\t\t\t \n");
  EXPECT_EQ(lines("L12 j\n").out, "L12\t\t\tj \n");
  EXPECT_EQ(lines("Lx y z\n").out, "Lx\t\t\ty \n");
  EXPECT_EQ(lines("l12 j L14\n").out, "");  // only a capital L
}

TEST(Dispatch, LabelLines) {
  EXPECT_EQ(lines("L2:\n").out, "L2:\t\t nop\n");
  EXPECT_EQ(lines("\tL4: // c\n").out, "\tL4:\t\t nop\n");  // the label keeps its tab
  EXPECT_EQ(lines("A: L5 j L6\n").out, "L5\t\t\tj L6\nA:\t\t nop\n");
  // The label is written once, on its own line only.
  EXPECT_EQ(lines("A:\nfoo\n").out, "A:\t\t nop\n");
}

TEST(Dispatch, UnknownOpcodesWriteNothing) {
  EXPECT_EQ(lines("Add r1, r2\nADD r1, r2\nfoo 1 2\n\n// c\n").out, "");
}

TEST(Dispatch, FloatTraceGoesToStandardError) {
  auto r = lines("valf r1, fp2\n");
  EXPECT_EQ(r.err, "floating reg is    2\n");
  EXPECT_EQ(r.out.find("floating"), std::string::npos);
}
