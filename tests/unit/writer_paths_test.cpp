// The writer copies short pieces by fixed-size moves chosen by length, takes
// labels and texts from their own storage, checks room once per template,
// and falls back to piece-by-piece writing for values larger than its
// buffer.  Each of those ways must give exactly the bytes of the template.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "state.h"

namespace {

constexpr qv::Fmt kAround = "<%s>";

std::string text_of(std::size_t k) {
  std::string s;
  for (std::size_t i = 0; i < k; i++) s += static_cast<char>('a' + i % 26);
  return s;
}

// Every length a token can have, from storage of exactly that length (so a
// sanitizer build catches a read past it), by put and by put_fmt.
TEST(Writer, OperandsOfEveryLength) {
  for (std::size_t k = 0; k <= 99; k++) {
    std::string want = text_of(k);
    std::unique_ptr<char[]> exact(new char[k == 0 ? 1 : k]);
    want.copy(exact.get(), k);
    qv::Field f;
    f.point(exact.get(), static_cast<uint32_t>(k));
    std::string o;
    {
      qv::Out out(&o);
      out.put("<%s>", f);
      out.put_fmt(kAround, f);
      out.put("%s%s", f, std::string_view(want));
      out.flush();
    }
    EXPECT_EQ(o, "<" + want + "><" + want + ">" + want + want) << "length " << k;
  }
}

// Labels and literals of every length they can have, from their own storage.
TEST(Writer, LabelsAndTextsOfEveryLength) {
  for (uint32_t k = 0; k <= 99; k++) {
    std::string want = text_of(k);
    qv::Text t;
    t.set(want.data(), k);
    qv::Label l;
    uint32_t lk = k < sizeof l.s ? k : 0;
    want.copy(l.s, lk);
    l.n = lk;
    std::string o;
    {
      qv::Out out(&o);
      out.put("(%s)(%s)", t, l);
      out.flush();
    }
    EXPECT_EQ(o, "(" + want + ")(" + want.substr(0, lk) + ")") << "length " << k;
  }
}

TEST(Writer, MappedRegisterLabelAndLiteral) {
  std::string o;
  qv::Out out(&o);
  qv::Field reg;
  reg.set("$v0");
  qv::Label l;
  for (char c : std::string("_ML1234567890123456789")) l.s[l.n++] = c;  // 22 characters
  qv::Text lit, empty;
  std::string long_text = text_of(99);
  lit.set(long_text.data(), 99);
  out.put("%s|%s|%s|%s|%s\n", reg, l, lit, empty, reg);
  out.flush();
  EXPECT_EQ(o, "$v0|_ML1234567890123456789|" + long_text + "||$v0\n");
}

// A template that does not fit behind what is buffered: the buffer is
// written out first, nothing is lost or doubled.
TEST(Writer, TemplateAtTheEndOfTheBuffer) {
  for (std::size_t fill : {qv::Out::kCap - 200, qv::Out::kCap - 20, qv::Out::kCap - 1, qv::Out::kCap}) {
    std::string o;
    qv::Out out(&o);
    std::string pad(fill, '.');
    out.raw(pad);
    qv::Field f;
    std::string op = text_of(60);
    f.point(op.data(), 60);
    out.put("\t\t\tmove %s, %s  \t#%4d\n", f, f, -7);
    out.flush();
    EXPECT_EQ(o, pad + "\t\t\tmove " + op + ", " + op + "  \t#  -7\n") << "fill " << fill;
  }
}

// A value larger than the whole buffer goes out piece by piece.
TEST(Writer, ValueLargerThanTheBuffer) {
  std::string o;
  qv::Out out(&o);
  std::string big(qv::Out::kCap * 2 + 3, 'z');
  out.raw("x", 1);
  out.put("[%s]%d\n", std::string_view(big), 42);
  out.flush();
  EXPECT_EQ(o, "x[" + big + "]42\n");
}

}  // namespace

// A small in-memory writer (as the checker keeps for rendering one line):
// templates and values longer than its buffer still come out whole.
TEST(Writer, SmallBuffer) {
  std::string sink;
  {
    qv::Out o(&sink, 16);
    for (std::size_t k : {0, 5, 13, 16, 40}) o.put("<%s>", std::string_view(text_of(k)));
    o.put("\t\t\tli $t9, %s \t#load number of parameters on stack\n", std::string_view("12"));
    o.flush();
  }
  std::string want;
  for (std::size_t k : {0, 5, 13, 16, 40}) {
    want += '<';
    want += text_of(k);
    want += '>';
  }
  want += "\t\t\tli $t9, 12 \t#load number of parameters on stack\n";
  EXPECT_EQ(sink, want);
}
