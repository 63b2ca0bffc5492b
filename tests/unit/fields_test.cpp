// Lines read as the translator reads them (run::Fields, Piece::opcode), and
// where its procedures begin and end (Translation::entry_of): what the
// debugger, the trace and the runner's reports take from a program.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/program.h"

namespace {

TEST(Fields, OperandsAndRegistersAsTheTranslatorNamesThem) {
  qv::run::Fields f;
  // A blank before the colon is the label's; commas are blanks.
  f.read("again :\tmov ,r1, R9, // comment");
  EXPECT_EQ(f.label(), "again");
  EXPECT_EQ(f.opcode(), "mov");
  EXPECT_EQ(f.operand(0), "r1");
  EXPECT_EQ(f.general(0), 10);
  EXPECT_EQ(f.general(1), 18);  // R9: the map takes either case
  f.read("\tadd r02, rr");
  EXPECT_EQ(f.general(0), 11);
  EXPECT_EQ(f.general(1), 2);
  f.read("\tcstf 2.5, fp2");
  EXPECT_EQ(f.general(1), -1);
  EXPECT_EQ(f.floating(1), 2);
  f.read("\trtn $22, 12");
  EXPECT_EQ(f.general(0), 22);
  EXPECT_EQ(f.number(1), 12);
  EXPECT_EQ(f.number(0), -1);
  f.read("\tcst Label, r40");  // r40 is $49, no MIPS register
  EXPECT_EQ(f.general(0), -1);
  EXPECT_EQ(f.general(1), -1);
  EXPECT_EQ(f.label(), "");
}

TEST(Fields, PiecesKeepTheirOpcodeAndTheStartUpCodeIsInNoProcedure) {
  std::vector<qv::run::Source> srcs(1);
  srcs[0].name = "p.ic";
  srcs[0].text = "cls C, C\nntr Main, 0\nL :\tgstr r2\n\trtn 1\nend 1, C, Main\n// after\n";
  for (std::size_t i = 0; i < srcs[0].text.size(); i++)
    if (i == 0 || srcs[0].text[i - 1] == '\n') srcs[0].starts.push_back(i);
  qv::run::Translation t;
  qv::run::translate(srcs, t);
  std::vector<std::string> ops;
  for (const auto& p : t.pieces) ops.emplace_back(p.opcode());
  ASSERT_GE(ops.size(), 5u);
  EXPECT_EQ(ops[2], "gstr");
  EXPECT_EQ(ops[4], "end");
  EXPECT_EQ(t.procedure_of(3), "Main");
  EXPECT_EQ(t.entry_of(4), -1);
  EXPECT_EQ(t.procedure_of(static_cast<int32_t>(t.pieces.size()) - 1), "");
}

}  // namespace
