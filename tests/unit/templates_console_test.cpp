#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"

using qv::test::lines;
using qv::test::translate;

namespace {

uint64_t labels_used(const std::string& line, uint64_t before) { return lines(line + "\n", before).labels - before; }

std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string s; std::getline(in, s);) v.push_back(s);
  return v;
}

// The length line that "gstr r1, <len>" writes.
std::string length_line(const std::string& len) { return split(lines("gstr r1, " + len + "\n").out).at(9); }

}  // namespace

TEST(ConsoleLabels, EachHandlerUsesItsCount) {
  const std::map<std::string, uint64_t> used = {
      {"gbln r1", 9}, {"gchr r1", 2}, {"gstr r1", 2}, {"gstr r1, 40", 2}, {"pbln r1", 1}, {"dbg x", 1},
      {"dbg", 1},     {"pint r1", 0}, {"gint r1", 0}, {"pflt r1", 0},     {"gflt r1", 0}, {"pchr r1", 0},
      {"pln", 0},     {"pstr r1", 0}, {"tfl r1", 0},  {"cls A, B", 0},    {"mth M", 0},
  };
  for (const auto& [line, n] : used) EXPECT_EQ(labels_used(line, 7), n) << line;
}

// Every one of the nine labels is defined once and branched to at least once.
TEST(ConsoleGbln, NineLabelsDefinedOnceAndUsed) {
  auto out = split(lines("gbln r1\n", 10).out);
  ASSERT_EQ(out.size(), 50u);
  for (int n = 10; n <= 18; n++) {
    std::string l = "_ML" + std::to_string(n);
    int defined = 0, used = 0;
    for (const auto& s : out) {
      if (s.rfind(l + ":", 0) == 0) defined++;
      std::size_t at = s.find(l);
      if (at != std::string::npos && at > 0 && s.find(l + ":") == std::string::npos) used++;
    }
    EXPECT_EQ(defined, 1) << l;
    EXPECT_GE(used, 1) << l;
  }
  for (const auto& s : out) EXPECT_EQ(s.find("_ML19"), std::string::npos) << s;
}

// The nine labels come first, so the mapping happens with all of them taken;
// a float operand's trace line must still appear exactly once.
TEST(ConsoleGbln, MapsOnce) {
  auto r = lines("gbln fp3\n");
  EXPECT_EQ(r.err, "floating reg is    3\n");
  EXPECT_EQ(split(r.out).at(0), "\t\t\t\t\t#gbln -$f3-");
}

TEST(ConsoleGstr, LengthBeyondTheBlockBecomesTheBlockSize) {
  const std::string clipped = "\t\t\tli $a1, 100\t#optional length field present";
  for (const char* len : {"101", "999", "1000", "000101", "4294967296", "4294967397", "18446744073709551616",
                          "99999999999999999999999999999999999999999999999999"})
    EXPECT_EQ(length_line(len), clipped) << len;
}

TEST(ConsoleGstr, OtherLengthsAreCopied) {
  for (const char* len :
       {"100", "0100", "99", "2", "1", "0", "000", "-200", "+200", "1e3", "200x", "x200", "r4", "$a0"})
    EXPECT_EQ(length_line(len), std::string("\t\t\tli $a1, ") + len + "\t#optional length field present") << len;
}

TEST(ConsoleGstr, LengthOperandIsNotMapped) {
  auto r = lines("gstr fp1, fp2\n");
  EXPECT_EQ(r.err, "floating reg is    1\n");
  EXPECT_EQ(split(r.out).at(0), "\t\t\t\t\t#gstr -$f1-fp2-");
}

// Only the handlers that take an operand map it, each once.
TEST(ConsoleMapping, FloatOperandsTraceOnStandardError) {
  for (const char* op : {"pint", "gint", "pflt", "gflt", "pbln", "gchr", "pchr", "pstr", "tfl"})
    EXPECT_EQ(lines(std::string(op) + " fp12\n").err, "floating reg is   12\n") << op;
  EXPECT_EQ(lines("pln fp1\n").err, "");
  EXPECT_EQ(lines("cls fp1, fp2\nmth fp3\ndbg fp4\n").err, "");
}

TEST(ConsoleLabels, GoOnAcrossFiles) {
  auto r = translate({"gchr r1\n", "pbln r1\n"});
  EXPECT_NE(r.out.find("\t\tbeqz $t0, _ML2 \t#if equal to 0 the boolean is false\n"), std::string::npos);
  EXPECT_EQ(r.labels, 3u);
}

TEST(ClassTables, TableClosesOnlyAtAnotherOpcode) {
  auto r = lines("cls C1, C0\nmth M1\nmth M2\nmth M3\n");
  EXPECT_EQ(r.out.find("\t\t\t.text\n"), r.out.size() - 9);  // only the end-of-file pass closes it
  auto open = lines("cls C1, C0\nmth M1");                   // no final line break, no end-of-file pass
  EXPECT_EQ(open.out.find(".text"), std::string::npos);
}

// A trace point after a table: the switch to the text segment, then the
// trace point's own data and text lines, and the table stays closed.
TEST(ClassTables, DbgAfterTableLeavesTextSegment) {
  auto out = split(lines("cls C1, C0\nmth M1\ndbg t\npln\n").out);
  ASSERT_GE(out.size(), 8u);
  EXPECT_EQ(out[5], "\t\t\t.text");
  EXPECT_EQ(out[6], "\t\t\t.data");
  EXPECT_EQ(out[8], "\t\t\t.text");
  int texts = 0;
  for (const auto& s : out) texts += s == "\t\t\t.text";
  EXPECT_EQ(texts, 2);
}

TEST(ClassTables, DbgMessageKeepsPercentSigns) {
  EXPECT_EQ(split(lines("dbg 100%s\n", 2).out).at(1), "_ML2:\t\t\t.asciiz \"We are at 100%s\\n\"");
}
