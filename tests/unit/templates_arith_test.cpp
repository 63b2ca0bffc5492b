#include <gtest/gtest.h>

#include <string>

#include "support.h"

using qv::test::lines;
using qv::test::translate;

namespace {

uint64_t labels_used(const std::string& line, uint64_t before) { return lines(line + "\n", before).labels - before; }

}  // namespace

TEST(ArithCompareLabels, ArithmeticAllocatesNone) {
  for (const char* op : {"add", "sub", "mul", "div", "rem", "and", "or", "addf", "subf", "mulf", "divf"})
    EXPECT_EQ(labels_used(std::string(op) + " r1, r2", 3), 0u) << op;
  for (const char* op : {"neg", "negf", "not"}) EXPECT_EQ(labels_used(std::string(op) + " r1", 3), 0u) << op;
}

TEST(ArithCompareLabels, RelationsAllocateTwoBranchesOneOrNone) {
  for (const char* op : {"ltn", "ltnf", "leq", "leqf", "gtr", "gtrf", "geq", "geqf", "eql", "eqlf", "neq", "neqf"})
    EXPECT_EQ(labels_used(std::string(op) + " r1, r2", 5), 2u) << op;
  EXPECT_EQ(labels_used("brf r1, L2", 5), 1u);
  EXPECT_EQ(labels_used("bra L2", 5), 0u);
  EXPECT_EQ(labels_used("psh r1", 5), 0u);
  EXPECT_EQ(labels_used("pshf fp1", 5), 0u);
}

// The true label must survive the allocation of the end label.
TEST(ArithCompareLabels, ManyDigitLabelsKeepTrueAndEndApart) {
  auto r = lines("geq r1, r2\n", 1234567);
  EXPECT_EQ(r.out,
            "\t\t\t\t\t# geq -$10-$11-\n"
            "\t\t\tbge $11, $10, _ML1234567\n"
            "\t\t\tli $11, 0\n"
            "\t\t\tb _ML1234568\n"
            "_ML1234567:\t\t\tli $11, 1\n"
            "_ML1234568:\t\t\tnop\n");
  EXPECT_EQ(r.labels, 1234569u);
}

TEST(ArithCompareLabels, GoesOnIntoTheNextFile) {
  auto r = translate({"brf r1, L1\n", "ltn r1, r2\n"});
  EXPECT_NE(r.out.find("\t\t\tblt $11, $10, _ML1\n"), std::string::npos);
  EXPECT_EQ(r.labels, 3u);
}

TEST(ArithCompareEqlf, RunsTheIntegerHandlers) {
  for (const char* ops : {"r1, r2", "fp1, rr", ""}) {
    std::string a = ops;
    EXPECT_EQ(lines("eqlf " + a + "\n", 2).out, lines("eql " + a + "\n", 2).out) << a;
    EXPECT_EQ(lines("neqf " + a + "\n", 2).out, lines("neq " + a + "\n", 2).out) << a;
  }
}

// Which operands go through the register mapping shows on standard error.
TEST(ArithCompareMapping, FloatTraceLinesFollowTheMappedOperands) {
  EXPECT_EQ(lines("ltnf fp1, fp2\n").err, "floating reg is    1\nfloating reg is    2\n");
  EXPECT_EQ(lines("subf fp7, fp12\n").err, "floating reg is    7\nfloating reg is   12\n");
  EXPECT_EQ(lines("negf fp3\n").err, "floating reg is    3\n");

  auto brf = lines("brf fp1, fp2\n");
  EXPECT_EQ(brf.err, "floating reg is    1\n");
  EXPECT_TRUE(brf.out.starts_with("\t\t\t\t\t# brf -$f1-fp2-\n"));

  auto bra = lines("bra fp4\n");
  EXPECT_EQ(bra.err, "");
  EXPECT_EQ(bra.out, "\t\t\t\t\t# bra -fp4-\n\t\t\tb fp4\t#branch to label fp4 \n");
}

TEST(ArithCompareOperands, MissingOnesAreEmptyText) {
  EXPECT_EQ(lines("not\n").out, "\t\t\t\t\t# not ---\n\t\t\txori , , 0x0001\t#Bitwise logical negation\n");
  EXPECT_EQ(lines("psh\n").out, "\t\t\t\t\t# psh --\n\t\t\tsw , 0($sp)\n\t\t\taddi $sp, $sp, -4\n");
  EXPECT_EQ(lines("brf\n").out, "\t\t\t\t\t# brf ---\n\t\t\tbeqz , \t #test  == 0,true jump, false do nothing\n");
}
