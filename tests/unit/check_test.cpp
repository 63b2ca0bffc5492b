// The checker's pieces that its golden cases reach only in part: its view of
// register operands against the translator's own mapping, the literal shapes
// SPIM takes, line markers, and how diagnostics are shown.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "check/check.h"
#include "check/forms.h"
#include "emit/emit.h"

namespace {

using namespace qv::check;

// What the translator's mapping makes of an operand.
std::string mapped(const std::string& operand) {
  std::string out_text, err_text;
  qv::Out out(&out_text), err(&err_text);
  qv::State st(out, err);
  qv::Field f;
  f.point(operand.data(), static_cast<uint32_t>(operand.size()));
  qv::map(st, f);
  return std::string(f.sv());
}

// The checker must name the register the translator really writes, or it
// would warn about the wrong thing: every short operand over an alphabet of
// register-like characters, and random ones.
TEST(CheckOperands, RegisterViewAgreesWithTheMapping) {
  const std::string alphabet = "rRfFpP019-+x$ ";
  std::mt19937 rng(7);
  for (int i = 0; i < 20000; i++) {
    std::string s;
    int len = 1 + static_cast<int>(rng() % 5);
    for (int k = 0; k < len; k++) s += alphabet[rng() % alphabet.size()];
    if (s.find(' ') != std::string::npos) continue;
    RegForm r = reg_form(s);
    std::string m = mapped(s);
    if (r.kind == RegForm::none)
      EXPECT_EQ(m, s) << s;
    else
      EXPECT_EQ(becomes(r), m) << s;
  }
  for (std::string s : {"r0", "r13", "rr", "RR", "fp2", "Fp31"}) EXPECT_TRUE(reg_form(s).clean) << s;
  for (std::string s : {"r", "ret", "r5x", "rr5", "r-9", "r+1", "fp", "fp-1"}) EXPECT_FALSE(reg_form(s).clean) << s;
}

// The shapes recorded from SPIM 8.0 (tests/check/spim-facts.md).
TEST(CheckOperands, LiteralsSpimTakes) {
  long long v = 0;
  for (std::string s : {"0", "-7", "010", "0x1F", "-0x10", "'a'", "4294967296"}) EXPECT_TRUE(int_literal(s)) << s;
  for (std::string s : {"+5", "3.5", "_1", "1e3", "0XFF", "0x", "-", "'\\n'", "''", "5+3"})
    EXPECT_FALSE(int_literal(s)) << s;
  ASSERT_TRUE(int_literal("0x1F", &v));
  EXPECT_EQ(v, 31);
  ASSERT_TRUE(int_literal("'a'", &v));
  EXPECT_EQ(v, 97);
  for (std::string s : {"2.5", "-2.5", "3.", "3.0", "1.5e3", "1.5e-3", "-1.5e+3"}) EXPECT_TRUE(float_literal(s)) << s;
  for (std::string s : {"3", "-3", ".5", "1e3", "1.5E3", "0x10", "1.5e", "+2.5"}) EXPECT_FALSE(float_literal(s)) << s;
  // A "$" may begin a label, and then stand inside it, where SPIM does not
  // read the name as a register; "$f" and a digit is always a register.
  for (std::string s : {"L1", "_x", ".x", "x.y", "Main", "$L1", "$a$b", "$32", "$032", "$1a", "$t10", "$s9", "$fa", "$$"})
    EXPECT_TRUE(identifier(s)) << s;
  for (std::string s : {"1abc", "x$y", "a$", "x-y", "x+y", "a\"b", "", "$", "$5", "$05", "$t0", "$zero", "$s8", "$f2",
                        "$f1a", "$f99"})
    EXPECT_FALSE(identifier(s)) << s;
  EXPECT_EQ(mips_reg("$05").n, 5);
  EXPECT_EQ(mips_reg("$ra").n, 31);
  EXPECT_EQ(mips_reg("$s8").n, 30);
  EXPECT_EQ(mips_reg("$f99").kind, MipsReg::fpr);
  EXPECT_EQ(mips_reg("$32").kind, MipsReg::none);
  for (std::string s : {"add", "b", "j", "li", "l.s", "nop", "syscall"}) EXPECT_TRUE(spim_word(s)) << s;
  for (std::string s : {"ADD", "true", "heap", "r5", "main", "Loop"}) EXPECT_FALSE(spim_word(s)) << s;
}

TEST(CheckOperands, NearestNames) {
  EXPECT_EQ(distance("add", "add"), 0);
  EXPECT_EQ(distance("ad", "add"), 1);
  EXPECT_EQ(distance("addi", "add"), 1);
  EXPECT_EQ(distance("pnit", "pint"), 1);  // a transposition counts once
  EXPECT_EQ(distance("", "abc"), 3);
  // With a limit the answer is the same, or limit + 1 for anything farther.
  const char* words[] = {"Loop", "loop1", "Lopo", "Done", "Dnoe", "x", "", "Recurse", "Recruse", "Main", "Mian",
                         "a_very_long_label_name_well_past_sixty_four_characters_of_text_here", "ab", "ba", "abc"};
  for (const char* x : words)
    for (const char* y : words)
      for (int limit = 0; limit <= 3; limit++)
        EXPECT_EQ(distance(x, y, limit), std::min(distance(x, y), limit + 1)) << x << " " << y << " " << limit;
}

TEST(CheckMarkers, Forms) {
  uint32_t n = 0;
  std::string file;
  bool has_file = false;
  ASSERT_TRUE(line_marker("//#line 12 \"prog.src\"\n", n, file, has_file));
  EXPECT_EQ(n, 12u);
  EXPECT_EQ(file, "prog.src");
  EXPECT_TRUE(has_file);
  ASSERT_TRUE(line_marker("  \t//#line 7", n, file, has_file));
  EXPECT_EQ(n, 7u);
  EXPECT_FALSE(has_file);
  for (std::string s : {"// #line 3", "//#line", "//#line x", "//#line 0", "//#line 3 \"open", "//#line 3 junk",
                        "add r1 //#line 3", "//#lines 3"})
    EXPECT_FALSE(line_marker(s, n, file, has_file)) << s;
}

std::string one(const std::string& text, const std::string& message, uint32_t col, bool werror = false) {
  static const std::vector<std::string_view> rules = {"some-rule"};
  Diags d(&rules);
  d.opt.werror = werror;
  d.file_names = {"a.ic"};
  Loc l;
  l.line = 3;
  l.col = col;
  const Diag& x = d.add(Severity::warning, 0, l, message, text);
  return d.format(x, false);
}

TEST(CheckDiagnostics, CaretUnderTheTokenWithTabsAndEscapes) {
  EXPECT_EQ(one("\tadd r1, r14", "m", 10), "a.ic:3:10: warning: m [-Wsome-rule]\n        add r1, r14\n                ^\n");
  // A byte outside ASCII takes four columns when shown.
  EXPECT_EQ(one("L\xe9: x", "m", 5), "a.ic:3:5: warning: m [-Wsome-rule]\nL<E9>: x\n       ^\n");
  EXPECT_EQ(one("x", "m", 1, true), "a.ic:3:1: error: m [-Werror,-Wsome-rule]\nx\n^\n");
}

TEST(CheckDiagnostics, LongLineShownAroundTheCaret) {
  std::string line(1000, 'a');
  line[600] = 'X';
  std::string f = one(line, "m", 601);
  std::size_t first = f.find('\n') + 1;
  std::string shown = f.substr(first, f.find('\n', first) - first);
  std::string caret = f.substr(f.find('\n', first) + 1);
  EXPECT_LT(shown.size(), 260u);
  EXPECT_EQ(shown.substr(0, 3), "...");
  EXPECT_EQ(shown[caret.find('^')], 'X');
}

TEST(CheckDiagnostics, InputOrderAndTheErrorLimit) {
  Diags d;
  d.file_names = {"a.ic", "b.ic"};
  d.opt.max_errors = 2;
  auto at = [](uint32_t file, uint32_t line) {
    Loc l;
    l.file = file;
    l.line = line;
    l.col = 1;
    return l;
  };
  d.add(Severity::error, -1, at(1, 1), "third", "");
  d.add(Severity::error, -1, at(0, 9), "second", "");
  d.add(Severity::warning, -1, at(0, 2), "first", "");
  d.add(Severity::error, -1, at(0, 1), "zeroth", "");
  d.trim();
  ASSERT_EQ(d.all().size(), 3u);
  EXPECT_EQ(d.all()[0].message, "zeroth");
  EXPECT_EQ(d.all()[1].message, "first");
  EXPECT_EQ(d.all()[2].message, "second");
}

// The whole checker on texts in memory: two files as one program, labels
// across them, and a program without diagnostics.
TEST(CheckProgram, FilesFormOneProgram) {
  Settings s;
  Diags d(&rule_names());
  check_texts({"a.ic", "b.ic"},
              {"cls C, C\nntr Main, 0\n\tbra Later\n", "Later:\trtn 1\nend 1, C, Main\n"}, s, d);
  EXPECT_TRUE(d.all().empty());
  Diags e(&rule_names());
  check_texts({"a.ic", "b.ic"}, {"cls C, C\nntr Main, 0\n\tbra Later\n", "\trtn 1\nend 1, C, Main\n"}, s, e);
  ASSERT_EQ(e.all().size(), 1u);
  EXPECT_EQ(e.all()[0].rule, undefined_label);
  EXPECT_EQ(e.all()[0].loc.file, 0u);
  EXPECT_EQ(e.all()[0].loc.line, 3u);
  EXPECT_EQ(e.all()[0].text, "\tbra Later");
}

}  // namespace
