// The tokenizer takes short lines (under 32 characters) by bit masks and
// longer ones by a scan.  Blanks added at the end of a line change none of its
// fields, so a short line and the same line padded past 32 characters must
// give the same fields by the two ways.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "input/tokenizer.h"
#include "tokenizer_support.h"

namespace {

using qv::test::Fields;
using qv::test::fields_of;
using qv::test::show;

struct Tok {
  std::string out_text, err_text;
  qv::Out out{&out_text}, err{&err_text};
  qv::State st{out, err};

  Fields run(const std::string& line) {
    st.strL.set("previous", 8);
    st.found_lbl = 0;
    st.line.clear();
    std::memcpy(st.line.b, line.data(), line.size());
    qv::tokonize(st, static_cast<int>(line.size()));
    return fields_of(st);
  }
};

void expect_same(Tok& t, const std::string& line) {
  std::string padded = line + std::string(60, ' ');
  ASSERT_GE(padded.size(), 32u);
  Fields a = t.run(line), b = t.run(padded);
  EXPECT_TRUE(a == b) << "line \"" << show(line) << "\": opcode \"" << show(a.f[0]) << "\" vs \""
                      << show(b.f[0]) << "\", p1 \"" << show(a.f[1]) << "\" vs \"" << show(b.f[1])
                      << "\", lbl \"" << show(a.lbl) << "\" vs \"" << show(b.lbl) << "\", strL \""
                      << show(a.strL) << "\" vs \"" << show(b.strL) << "\"";
}

TEST(TokenizerPaths, ChosenLines) {
  Tok t;
  for (const char* line : {"", "\n", "L7:  add r1, r2\n", "cst r3,25 // load 25\n", "str S4 \"a, b: c\"\n",
                           "str S5 \"x//y\"\n", "L2: // only a label\n", "   L9: pln\n", "cal r1 foo:bar\n",
                           "ntr 1 2 3 4 5 6 7\n", "L12 j L14\n", "\tpint\tr1\n", "add r1, r2\r\n",
                           "a\vb c\n", "x:y:z \"q\n", "\"a\" b: c\n", "//\n", "/ / a//b\n", "a,,b,\t,c\n",
                           "\xe9t\xe9 r1\n", "\"\"\n", "0123456789012345678901234567890"}) {
    expect_same(t, line);
  }
  // A terminator inside the line ends it; the rest is not seen.
  expect_same(t, std::string("add r1\0 r2: \"q\"", 15));
}

TEST(TokenizerPaths, RandomLines) {
  const char alphabet[] = {'a', 'r', '1', 'L', ' ', ' ', ' ', ',', '\t', ':', '"', '/', '/', '\n', '\r',
                           '\v', '\f', '\0', 'x', '\xff'};
  std::mt19937 rng(12345);
  Tok t;
  for (int i = 0; i < 20000; i++) {
    std::string line(rng() % 32, ' ');
    for (char& c : line) c = alphabet[rng() % sizeof alphabet];
    expect_same(t, line);
    if (HasFailure()) break;
  }
}

}  // namespace
