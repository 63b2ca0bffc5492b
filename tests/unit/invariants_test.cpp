// Properties that hold for every input, checked over many generated ones: the
// translation is a pure function of its input, and several input files form
// one program whose internal labels run on from file to file.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "dispatch/jump_table.h"
#include "support.h"

namespace {

using Result = qv::test::Run;
using qv::test::translate;

// Lines of intermediate code, well-formed and otherwise.  Only the raw output
// of mt19937 is used, which the standard fixes, so every library generates
// the same inputs.
class Gen {
 public:
  explicit Gen(uint32_t seed) : rng_(seed) {}

  std::string file() {
    std::string f;
    int n = pick(40);
    for (int i = 0; i < n; i++) f += line();
    if (!f.empty() && pick(3) == 0) f.pop_back();  // no line break at the end
    return f;
  }

 private:
  uint32_t pick(uint32_t n) { return rng_() % n; }
  template <std::size_t N>
  const char* one_of(const char* const (&a)[N]) {
    return a[pick(N)];
  }

  std::string line() {
    switch (pick(10)) {
      case 0:
        return garbage() + "\n";
      case 1: {  // longer than one read
        std::string s = instruction();
        while (s.size() < 99 + pick(150)) s += one_of(kSeps) + instruction();
        return s + "\n";
      }
      case 2:
        return instruction() + "\r\n";
      default:
        return instruction() + "\n";
    }
  }

  std::string instruction() {
    std::string s;
    if (pick(4) == 0) {
      s += pick(2) ? 'L' : 'K';
      s += std::to_string(pick(30));
      s += ':';
      s += one_of(kSeps);
    }
    uint32_t k = pick(20);
    if (k < 15) {
      s += qv::opcode_table[pick(60)].mnemonic;
    } else if (k < 17) {
      s += 'L';  // a passed-through line
      s += std::to_string(pick(30));
    } else if (k < 19) {
      s += one_of(kOperands);  // no mnemonic
    }
    int operands = pick(8);
    for (int i = 0; i < operands; i++) s += one_of(kSeps) + std::string(one_of(kOperands));
    if (pick(5) == 0) s += std::string(" \"") + one_of(kLiterals) + "\"";
    if (pick(6) == 0) s += std::string(" // ") + one_of(kLiterals);
    return s;
  }

  std::string garbage() {
    static const char kBytes[] = "aLrfp0123456789 \t,:\"/\r\f\v\x01\x7f\x80\xa0\xe9\xff%$-";
    std::string s;
    int n = pick(200);
    for (int i = 0; i < n; i++) s += pick(16) == 0 ? '\0' : kBytes[pick(sizeof kBytes - 1)];
    return s;
  }

  static constexpr const char* kSeps[] = {" ", ", ", ",", "\t", " ,\t ", ",,"};
  static constexpr const char* kOperands[] = {
      "r0", "r1", "r13", "r14", "R5", "rr", "Rr", "r-10", "ret", "r1000", "fp0", "fp2", "FP10", "fp-1", "fp100",
      "$t0", "$10", "0", "25", "-5", "3.5", "0x1F", "C0", "K1", "L3", "S1", "j", "jump", "%s", "%n", "\xe9\xff", "",
  };
  static constexpr const char* kLiterals[] = {
      "", "Hello, world", "a: b", "x//y", "%s%n%d", "\"", "tab\there", "\xe2\x82\xac",
  };

  std::mt19937 rng_;
};

constexpr int kRounds = 1000;

TEST(Invariants, SameInputSameBytes) {
  Gen g(1);
  for (int i = 0; i < kRounds; i++) {
    std::vector<std::string> files = {g.file(), g.file()};
    Result a = translate(files, true);
    Result b = translate(files, true);
    ASSERT_EQ(a.out, b.out) << "round " << i;
    ASSERT_EQ(a.err, b.err) << "round " << i;
    ASSERT_EQ(a.labels, b.labels) << "round " << i;
  }
}

// Two files give one header, then what the first file's lines give, then
// what the second's give.  The line break that ends the first file (or its
// end-of-file pass) does what a line break inserted between the two does: a
// line left without one ends there, and an empty line writes what the pass
// writes.
TEST(Invariants, TwoFilesAreOneProgram) {
  const std::string header = translate({""}, true).out;
  Gen g(2);
  for (int i = 0; i < kRounds; i++) {
    std::string a = g.file(), b = g.file();
    Result both = translate({a, b}, true);
    Result joined = translate({a + "\n" + b}, true);
    ASSERT_EQ(both.out, joined.out) << "round " << i;
    ASSERT_EQ(both.err, joined.err) << "round " << i;
    ASSERT_EQ(both.labels, joined.labels) << "round " << i;

    Result first = translate({a});
    ASSERT_EQ(both.out.substr(0, header.size() + first.out.size()), header + first.out) << "round " << i;
    ASSERT_EQ(both.err.substr(0, first.err.size()), first.err) << "round " << i;
    ASSERT_EQ(both.out.find("main:\t\t\tla $ra, ENDIT1 \n", header.size()), std::string::npos) << "round " << i;
  }
}

// When the first file ends with a line break (its end-of-file pass closes
// any class table) and the second sets its own literal first, the second
// file's output is exactly its output on its own with the label counter
// starting where the first left it.
TEST(Invariants, SecondFileLabelsContinueTheFirst) {
  Gen g(3);
  int with_labels = 0;
  for (int i = 0; i < kRounds; i++) {
    std::string a = g.file() + "\n";
    std::string b = "pln \"seed\"\n" + g.file();
    Result first = translate({a});
    Result both = translate({a, b});
    Result second = translate({b}, false, first.labels);
    ASSERT_EQ(both.out, first.out + second.out) << "round " << i;
    ASSERT_EQ(both.err, first.err + second.err) << "round " << i;
    ASSERT_EQ(both.labels, second.labels) << "round " << i;
    if (first.labels > 0 && second.labels > first.labels) with_labels++;
  }
  // The generator must exercise the point: both files allocating labels.
  EXPECT_GT(with_labels, kRounds / 4);
}

}  // namespace
