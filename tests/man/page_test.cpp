// quorvelin-ic(5) as built lists every opcode of the opcode table, once,
// with the operands the language server shows and the table's own words;
// and those words agree with the signature the translator and the checker
// use.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "dispatch/jump_table.h"
#include "dispatch/opcode_text.h"

namespace {

using qv::OpcodeRow;

// The words of a doc list ("p1, [p2], rr").
std::vector<std::string> words(std::string_view s) {
  std::vector<std::string> w;
  while (!s.empty()) {
    std::size_t c = s.find(", ");
    w.emplace_back(s.substr(0, c));
    s = c == std::string_view::npos ? std::string_view() : s.substr(c + 2);
  }
  return w;
}

bool has(std::string_view list, const std::string& w) {
  for (const std::string& x : words(list))
    if (x == w) return true;
  return false;
}

std::string op(int i) {
  std::string s = "p";
  return s += std::to_string(i + 1);
}

TEST(OpcodeDoc, AgreesWithTheSignature) {
  for (const OpcodeRow& row : qv::opcode_table) {
    SCOPED_TRACE(row.mnemonic);
    std::string_view meaning = row.doc.meaning;
    for (int i = 0; i < row.sig.n; i++) {
      EXPECT_NE(meaning.find(op(i)), std::string_view::npos) << op(i) << " is not in: " << meaning;
      // The signature marks what general registers a template writes.
      if (row.sig.writes >> i & 1) {
        EXPECT_TRUE(has(row.doc.writes, op(i))) << op(i) << " is written";
      }
      if (row.sig.arg[i] == qv::Arg::reg && !(row.sig.write_only >> i & 1)) {
        EXPECT_TRUE(has(row.doc.reads, op(i))) << op(i) << " is read";
      }
    }
    EXPECT_EQ(meaning.find(op(row.sig.n)), std::string_view::npos) << "names an operand past the last";
    if (row.sig.uses_v0) {
      EXPECT_TRUE(has(row.doc.writes, "rr")) << "the template loads $v0";
    }
  }
}

struct PageRow {
  std::string operands, reads, writes, count, meaning;
  int seen = 0;
};

// A table cell or text line back from roff.
std::string plain(std::string s) {
  for (auto [from, to] : {std::pair<std::string, std::string>{"\\(em", ""}, {"\\-", "-"}, {"\\&", ""}, {"\\e", "\\"}}) {
    for (std::size_t i = 0; (i = s.find(from, i)) != std::string::npos; i += to.size()) s.replace(i, from.size(), to);
  }
  return s;
}

std::vector<std::string> cells(const std::string& line) {
  std::vector<std::string> c;
  std::stringstream in(line);
  for (std::string x; std::getline(in, x, '@');) c.push_back(plain(x));
  return c;
}

TEST(Manual, ListsEveryOpcodeAsTheTableHasIt) {
  std::ifstream in(QV_IC_PAGE);
  ASSERT_TRUE(in) << "cannot read " << QV_IC_PAGE;
  std::map<std::string, PageRow> page;
  std::string l, last, prev;
  bool in_table = false;
  for (; std::getline(in, l); prev = l) {
    if (prev == ".T&") continue;  // a row's format
    if (l == "Opcode@Operands@Reads@Writes@MIPS") in_table = true;
    else if (l == ".TE") in_table = false;
    else if (in_table && l == "@T{") {
      std::string text;
      while (std::getline(in, l) && l != "T}") text += plain(l);
      page[last].meaning = text;
    } else if (in_table && !l.empty() && l[0] != '.' && l != "_") {
      std::vector<std::string> c = cells(l);
      ASSERT_EQ(c.size(), 5u) << l;
      last = c[0];
      PageRow& r = page[last];
      r.operands = c[1], r.reads = c[2], r.writes = c[3], r.count = c[4];
      r.seen++;
    }
  }
  ASSERT_EQ(page.size(), std::size(qv::opcode_table));
  for (const OpcodeRow& row : qv::opcode_table) {
    SCOPED_TRACE(row.mnemonic);
    ASSERT_TRUE(page.count(row.mnemonic));
    const PageRow& r = page[row.mnemonic];
    EXPECT_EQ(r.seen, 1);
    EXPECT_EQ(r.operands, qv::operands_text(row));
    EXPECT_EQ(r.reads, row.doc.reads);
    EXPECT_EQ(r.writes, row.doc.writes);
    EXPECT_EQ(r.meaning.rfind(row.doc.meaning, 0), 0u) << r.meaning;
    EXPECT_TRUE(!r.count.empty() && r.count.find_first_not_of("0123456789\\(en") == std::string::npos) << r.count;
  }
}

}  // namespace
