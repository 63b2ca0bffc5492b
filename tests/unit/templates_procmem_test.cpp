// Procedure, memory and constant templates: label counter, letter test, and
// the return's stack adjustment.
#include <gtest/gtest.h>

#include <string>

#include "support.h"

using qv::test::lines;
using qv::test::translate;

namespace {

bool has(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

}  // namespace

TEST(ProcMemLabels, OnlyCallAndReturnTakeLabels) {
  const char* none[] = {"ntr P, 2\n",   "var 1, 3, r2\n",   "val r1\n",  "valf r1, fp2\n",
                        "ndx r1, 1, 2, r4\n", "sel 3, r0\n", "sto r1, r2\n", "mov r1, r2\n",
                        "cst 0x1F, r1\n", "cstf 2.5, r3\n", "str S1 \"a\"\n", "alc r1, r2\n"};
  for (const char* l : none) EXPECT_EQ(lines(l, 41).labels, 41u) << l;
  EXPECT_EQ(lines("cal 0, r3\n", 41).labels, 43u);
  EXPECT_EQ(lines("rtn 1\n", 41).labels, 42u);
  // Labels are used up even by lines with no operands.
  EXPECT_EQ(lines("cal\nrtn\n").labels, 3u);
}

TEST(ProcMemLabels, CallPrintsLoopLabelFirstAcrossDigitCarry) {
  auto r = lines("cal 1, r0\n", 99);
  EXPECT_TRUE(has(r.out, "_ML100:\t\t\tbeqz $t8, _ML99 \t#Skip back disp times through the call stack\n"));
  EXPECT_TRUE(has(r.out, "\t\t\tb _ML100 \n_ML99:\t\t\tnop\n"));
  EXPECT_LT(r.out.find("_ML100:"), r.out.find("_ML99:"));
}

TEST(ProcMemLabels, CounterRunsOnIntoTheNextFile) {
  auto r = translate({"cal 0, r1\n", "rtn 1\ncal 0, r1\n"});
  EXPECT_TRUE(has(r.out, "_ML2:\t\t\tnop\n"));
  EXPECT_TRUE(has(r.out, "_ML4:\t\t\tbeqz $t8, _ML3 "));
  EXPECT_EQ(r.labels, 5u);
}

TEST(ProcReturn, PopsTheWholeSaveArea) {
  auto r = lines("rtn r1, 2\n");
  EXPECT_TRUE(has(r.out, "\t\t\taddi $sp, $sp, 64\t#adjust sp to below stack save area\n"));
  EXPECT_FALSE(has(r.out, "addi $sp, $sp, 60"));
  // The reloads come between "move $sp, $fp" and the adjustment.
  auto move = r.out.find("move $sp, $fp");
  auto last = r.out.find("lw $22, 12($sp)");
  auto adjust = r.out.find("addi $sp, $sp, 64");
  EXPECT_LT(move, last);
  EXPECT_LT(last, adjust);
}

TEST(ProcReturn, ResultCopiedOnlyForRegisters) {
  EXPECT_FALSE(has(lines("rtn 3\n").out, "move $v0"));
  EXPECT_FALSE(has(lines("rtn L3, 1\n").out, "move $v0"));  // "L3" is not a register
  EXPECT_TRUE(has(lines("rtn ret, 1\n").out, "\t\t\tmove $v0, $9\t#copy content in $9 to $v0\n"));
  // A count is never mapped, even when written like a register.
  EXPECT_TRUE(has(lines("rtn r1, r2\n").out, "\t\t\tli $t9, r2 \t#load number"));
}

// Every byte a token can hold: "la" exactly for the 52 ASCII letters.
TEST(ConstLetterTest, AsciiLettersOnly) {
  for (int c = 1; c < 256; c++) {
    if (c == ' ' || (c >= '\t' && c <= '\r') || c == ',' || c == ':') continue;
    std::string line = "cst 1";
    line += static_cast<char>(c);
    line += "2, r1\n";
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    auto out = lines(line).out;
    EXPECT_EQ(has(out, "\t\t\tla $10, "), letter) << "byte " << c;
    EXPECT_EQ(has(out, "\t\t\tli $10, "), !letter) << "byte " << c;
  }
}

TEST(ConstLetterTest, FirstOperandNeverMapped) {
  EXPECT_EQ(lines("cst rr, r1\n").out,
            "\t\t\t\t\t# cst -rr-$10-\n"
            "\t\t\tla $10, rr  \t#Load register with address\n\n");
  auto r = lines("cst fp1, r1\n");
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(has(r.out, "la $10, fp1  "));
}

TEST(ConstString, LiteralIsDataNotFormat) {
  auto out = lines("str S9 \"%d%s%%\\\\\"\n").out;
  EXPECT_EQ(out,
            "\t\t\t\t\t# str -S9-%d%s%%\\\\-\n"
            "\t\t\t.data\n"
            "S9:\t\t\t.asciiz \"%d%s%%\\\\\"\n"
            "\t\t\t.text\n");
}
