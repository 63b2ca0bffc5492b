#include <gtest/gtest.h>

#include <string>

#include "emit/emit.h"

namespace {

struct Mapper {
  std::string out_text, err_text;
  qv::Out out{&out_text}, err{&err_text};
  qv::State st{out, err};

  // Maps `operand` and returns the result; `trace` gets what went to stderr.
  std::string map(const std::string& operand, std::string* trace = nullptr) {
    qv::Field f;
    f.point(operand.data(), static_cast<uint32_t>(operand.size()));
    err_text.clear();
    qv::map(st, f);
    err.flush();
    if (trace) *trace = err_text;
    else EXPECT_EQ(err_text, "") << operand;
    return std::string(f.sv());
  }
};

TEST(Map, GeneralRegisters) {
  Mapper m;
  EXPECT_EQ(m.map("r0"), "$9");
  EXPECT_EQ(m.map("r5"), "$14");
  EXPECT_EQ(m.map("R5"), "$14");
  EXPECT_EQ(m.map("r13"), "$22");
  EXPECT_EQ(m.map("r14"), "$23");
  EXPECT_EQ(m.map("r100"), "$109");
  EXPECT_EQ(m.map("r1000"), "r1000");
  EXPECT_EQ(m.map("r"), "$9");
  EXPECT_EQ(m.map("rx"), "$9");
  EXPECT_EQ(m.map("ret"), "$9");
  EXPECT_EQ(m.map("r5x"), "$14");
  EXPECT_EQ(m.map("r-9"), "$0");
  EXPECT_EQ(m.map("r-10"), "$");
  EXPECT_EQ(m.map("r+5"), "$14");
}

TEST(Map, ResultRegister) {
  Mapper m;
  for (const char* s : {"rr", "rR", "Rr", "RR", "rr5"}) EXPECT_EQ(m.map(s), "$v0") << s;
}

TEST(Map, FloatRegistersTraceOnStandardError) {
  Mapper m;
  std::string trace;
  for (const char* s : {"fp2", "FP2", "Fp2", "fP2"}) {
    EXPECT_EQ(m.map(s, &trace), "$f2");
    EXPECT_EQ(trace, "floating reg is    2\n");
  }
  EXPECT_EQ(m.map("fp10", &trace), "$f10");
  EXPECT_EQ(trace, "floating reg is   10\n");
  EXPECT_EQ(m.map("fp", &trace), "$f0");
  EXPECT_EQ(trace, "floating reg is    0\n");
  EXPECT_EQ(m.map("fp-1", &trace), "$f");
  EXPECT_EQ(trace, "floating reg is   -1\n");
  EXPECT_EQ(m.map("fp100"), "fp100");
  EXPECT_EQ(m.out_text, "");  // nothing of it reaches the assembly
}

TEST(Map, OtherOperandsUnchanged) {
  Mapper m;
  for (const char* s : {"f2", "$t0", "$10", "$v0", "25", "L3", "-5", "", "\xf2r1"}) EXPECT_EQ(m.map(s), s);
  // Mapping twice changes nothing more.
  EXPECT_EQ(m.map(m.map("r3")), "$12");
}

TEST(Map, TraceComesAfterWhatWasWrittenBefore) {
  // The trace goes out only after standard output has been flushed, so the
  // streams interleave as written.
  std::string out_text, err_text, both;
  qv::Out out{&out_text}, err{&err_text};
  qv::State st{out, err};
  out.raw("before\n");
  qv::Field f;
  f.point("fp3", 3);
  qv::map(st, f);
  EXPECT_EQ(out_text, "before\n");
  EXPECT_EQ(err_text, "floating reg is    3\n");
}

TEST(Itoa, Values) {
  char s[24];
  EXPECT_EQ(qv::itoa(0, s), 1);
  EXPECT_STREQ(s, "0");
  qv::itoa(109, s);
  EXPECT_STREQ(s, "109");
  EXPECT_EQ(qv::itoa(-1, s), 0);
  EXPECT_STREQ(s, "");
  qv::itoa(4294967296LL, s);
  EXPECT_STREQ(s, "4294967296");
}

TEST(Labels, CountUpAndNeverReset) {
  std::string o, e;
  qv::Out out{&o}, err{&e};
  qv::State st{out, err};
  qv::Label a, b, c;
  qv::next_label(st, a);
  qv::next_label(st, b);
  qv::next_label(st, c);
  EXPECT_EQ(a.sv(), "_ML0");
  EXPECT_EQ(b.sv(), "_ML1");
  EXPECT_EQ(c.sv(), "_ML2");
  EXPECT_EQ(st.internal_label_cnt, 3u);
  st.internal_label_cnt = 2147483648ULL;  // past 31 bits the numbers go on
  qv::next_label(st, a);
  EXPECT_EQ(a.sv(), "_ML2147483648");
}

TEST(Isreg, DollarOnly) {
  EXPECT_EQ(qv::isreg("$t3"), 1);
  EXPECT_EQ(qv::isreg("$"), 1);
  EXPECT_EQ(qv::isreg("r1"), 0);
  EXPECT_EQ(qv::isreg(""), 0);
}

TEST(Pn, TextIsData) {
  std::string o, e;
  qv::Out out{&o}, err{&e};
  qv::State st{out, err};
  qv::pn(st, "syscall");
  qv::pn(st, "100% %s %n\n");
  out.flush();
  EXPECT_EQ(o, "\t\t\tsyscall\n\t\t\t100% %s %n\n\n");
}

TEST(Out, FormatsAndWidths) {
  std::string o;
  {
    qv::Out out{&o};
    qv::Field f;
    f.point("%s%d", 4);
    out.put("[%s|%4d|%2d|%3i|%d]\n", f, -1000, -56, -56, 7);
    out.put("%4d|%4d\n", 2, -1);
    out.flush();
  }
  EXPECT_EQ(o, "[%s%d|-1000|-56|-56|7]\n   2|  -1\n");
}

TEST(Out, LargeOutputSurvivesFlushes) {
  std::string o;
  qv::Out out{&o};
  std::string piece(1000, 'x');
  for (int i = 0; i < 5000; i++) out.raw(piece);
  out.raw(std::string(3 << 20, 'y'));  // larger than the buffer
  out.flush();
  EXPECT_EQ(o.size(), 5000u * 1000 + (3u << 20));
  EXPECT_EQ(o.back(), 'y');
}

}  // namespace
