#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "input/tokenizer.h"

namespace {

using qv::State;

// Tokenizes one line as the line loop hands it over: the line, its
// terminator, blanks up to position 99.
struct Tok {
  std::string out_text, err_text;
  qv::Out out{&out_text}, err{&err_text};
  State st{out, err};

  void run(const std::string& line) {
    ASSERT_LE(line.size(), 99u);
    st.line.clear();
    std::memcpy(st.line.b, line.data(), line.size());
    st.line.b[line.size()] = '\0';
    st.found_lbl = 0;
    tokonize(st, static_cast<int>(strnlen(st.line.b, line.size())));
  }
  // The blanked buffer of the end-of-file pass.
  void run_blank() {
    st.line.clear();
    st.found_lbl = 0;
    tokonize(st, qv::kLinePositions);
  }
  std::string f(int i) const {
    const qv::Field* fs[] = {&st.opcode, &st.p1, &st.p2, &st.p3, &st.p4, &st.p5};
    return std::string(fs[i]->sv());
  }
  void expect_fields(std::initializer_list<const char*> want) {
    int i = 0;
    for (const char* w : want) {
      EXPECT_EQ(f(i), w) << "field " << i;
      i++;
    }
    for (; i < 6; i++) EXPECT_EQ(f(i), "") << "field " << i;
  }
};

TEST(Tokenizer, WorkedExamples) {
  Tok t;
  t.st.strL.set("old", 3);

  t.run("L7:  add r1, r2\n");
  EXPECT_EQ(t.st.found_lbl, 1);
  EXPECT_EQ(t.st.lbl.sv(), "L7:");
  t.expect_fields({"add", "r1", "r2"});

  t.run("cst r3,25 // load 25\n");
  EXPECT_EQ(t.st.found_lbl, 0);
  t.expect_fields({"cst", "r3", "25"});

  t.run("str S4 \"a, b: c\"\n");
  EXPECT_EQ(t.st.found_lbl, 0);
  EXPECT_EQ(t.st.strL.sv(), "a, b: c");
  t.expect_fields({"str", "S4", "\"a", "b:", "c\""});

  t.run("str S5 \"x//y\"\n");
  EXPECT_EQ(t.st.strL.sv(), "a, b: c");  // one quote left: literal kept
  t.expect_fields({"str", "S5", "\"x"});

  t.run("L2: // only a label\n");
  EXPECT_EQ(t.st.found_lbl, 1);
  EXPECT_EQ(t.st.lbl.sv(), "L2:");
  t.expect_fields({});

  t.run("   L9: pln\n");
  EXPECT_EQ(t.st.lbl.sv(), "   L9:");
  t.expect_fields({"pln"});

  t.run("cal r1 foo:bar\n");
  EXPECT_EQ(t.st.lbl.sv(), "cal r1 foo:");
  t.expect_fields({"bar"});

  t.run("ntr 1 2 3 4 5 6 7\n");
  t.expect_fields({"ntr", "1", "2", "3", "4", "5"});

  t.run("L12 j L14\n");
  EXPECT_EQ(t.st.found_lbl, 0);
  t.expect_fields({"L12", "j", "L14"});
}

TEST(Tokenizer, EmptyBlankAndCommentLinesGiveNothing) {
  Tok t;
  t.st.strL.set("keep", 4);
  for (const char* line : {"\n", "      \n", "// just a comment\n", ",,, ,\t,\n"}) {
    t.run(line);
    EXPECT_EQ(t.st.found_lbl, 0) << line;
    t.expect_fields({});
  }
  t.run_blank();
  t.expect_fields({});
  EXPECT_EQ(t.st.strL.sv(), "keep");
}

TEST(Tokenizer, SeparatorsAndLineEnds) {
  Tok t;
  t.run("\tpint\tr1\n");
  t.expect_fields({"pint", "r1"});
  t.run("add r1, r2 \n");
  t.expect_fields({"add", "r1", "r2"});
  t.run("add r1, r2\r\n");
  t.expect_fields({"add", "r1", "r2"});
  t.run("add,,r1,,,r2\n");
  t.expect_fields({"add", "r1", "r2"});
  // White space other than a blank ends the line's tokens.
  t.run("add r1\fr2 r3\n");
  t.expect_fields({"add", "r1"});
  t.run("add r1 \vr2\n");
  t.expect_fields({"add", "r1"});
  t.run("add r1\rr2\n");
  t.expect_fields({"add", "r1"});
  // Bytes above 127 are ordinary token characters.
  t.run("\xe9t\xff r\x80\n");
  t.expect_fields({"\xe9t\xff", "r\x80"});
}

TEST(Tokenizer, Literals) {
  Tok t;
  t.run("str S1 \"abc\"\n");
  EXPECT_EQ(t.st.strL.sv(), "abc");
  t.run("str S2\n");
  EXPECT_EQ(t.st.strL.sv(), "abc");
  t.run("str S3 \"\"\n");
  EXPECT_EQ(t.st.strL.sv(), "");
  t.run("str S1 \"abc\"\n");
  t.run("str S4 \"unclosed\n");
  EXPECT_EQ(t.st.strL.sv(), "abc");
  // Inner quotes, tabs and commas stay in the literal.
  t.run("str S5 \"a\t\"b\", c\"\n");
  EXPECT_EQ(t.st.strL.sv(), "a\t\"b\", c");
  // A colon after the first quote makes no label.
  t.run("str S6 \"x: y\"\n");
  EXPECT_EQ(t.st.found_lbl, 0);
  EXPECT_EQ(t.st.strL.sv(), "x: y");
  // A label before the literal is taken, and the literal too.
  t.run("L5: str S1 \"x\"\n");
  EXPECT_EQ(t.st.lbl.sv(), "L5:");
  EXPECT_EQ(t.st.strL.sv(), "x");
  t.expect_fields({"str", "S1", "\"x\""});
}

TEST(Tokenizer, LabelsKeepWhatPrecedesTheColon) {
  Tok t;
  t.run("\tL4:\tnop\n");
  EXPECT_EQ(t.st.lbl.sv(), "\tL4:");
  t.expect_fields({"nop"});
  t.run("A,B: x\n");
  EXPECT_EQ(t.st.lbl.sv(), "A,B:");
  t.run("pln\n");
  EXPECT_EQ(t.st.found_lbl, 0);
  EXPECT_EQ(t.st.lbl.sv(), "A,B:");  // kept, but not flagged
}

TEST(Tokenizer, OnlyPositionsBelow99AreTokens) {
  Tok t;
  std::string line = "pint " + std::string(93, 'x') + "y";  // 99 characters, no line break
  ASSERT_EQ(line.size(), 99u);
  t.run(line);
  EXPECT_EQ(t.f(1), std::string(93, 'x') + "y");
  // Position 99 is never part of a token: in a blanked buffer with a word at
  // positions 94..98 the word ends at 98.
  t.st.line.clear();
  std::memcpy(t.st.line.b + 94, "abcde", 5);
  t.st.found_lbl = 0;
  tokonize(t.st, qv::kLinePositions);
  t.expect_fields({"abcde"});
}

TEST(Tokenizer, NulEndsTheLine) {
  Tok t;
  std::string line("add r1\0 r2: \"q\" \n", 17);
  t.st.line.clear();
  std::memcpy(t.st.line.b, line.data(), line.size());
  t.st.line.b[line.size()] = '\0';
  t.st.strL.set("old", 3);
  tokonize(t.st, static_cast<int>(strnlen(t.st.line.b, line.size())));
  t.expect_fields({"add", "r1"});
  EXPECT_EQ(t.st.found_lbl, 0);        // the colon lies behind the terminator
  EXPECT_EQ(t.st.strL.sv(), "old");
}

}  // namespace
