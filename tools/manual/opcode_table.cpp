// Writes quorvelin-ic(5) from its template: the line ".\" OPCODE TABLE" is
// replaced by the table of every opcode, written from the opcode table
// itself (operands, what each line reads and writes, what it does) and from
// what the translator writes for it (the instruction count, found by
// translating sample lines through the translator's own handlers); a line
// ".\" INCLUDE PATH" by the text of that file (the example and its output).
//
//   quorvelin-opcode-table TEMPLATE OUTPUT
#include <algorithm>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "dispatch/jump_table.h"
#include "dispatch/opcode_text.h"
#include "input/tokenizer.h"
#include "state.h"

namespace {

using qv::Arg;
using qv::OpcodeRow;

const char* const kMarker = ".\\\" OPCODE TABLE";
const std::string_view kInclude = ".\\\" INCLUDE ";

// The assembly the translator writes for `line` as a program's only line
// (the program's header aside).
std::string translate(const std::string& line) {
  std::string text, trace;
  qv::Out out(&text), err(&trace);
  qv::State st(out, err);
  std::size_t n = std::min(line.size(), static_cast<std::size_t>(qv::kLinePositions - 1));
  std::memcpy(st.line.b, line.data(), n);
  st.line.b[n] = '\0';
  qv::tokonize(st, static_cast<int>(n));
  qv::jump_table(st);
  out.flush();
  err.flush();
  return text;
}

// Lines that hold an instruction: not empty, not only a comment or a label,
// not a directive.
int instructions(const std::string& text) {
  std::istringstream in(text);
  std::string l;
  int count = 0;
  while (std::getline(in, l)) {
    std::size_t i = 0;
    std::size_t colon = l.find(':');
    if (colon != std::string::npos && l.find_first_of(" \t") > colon) i = colon + 1;
    i = l.find_first_not_of(" \t", i);
    if (i == std::string::npos || l[i] == '#' || l[i] == '.') continue;
    count++;
  }
  return count;
}

// The sample values of an operand: where it may be written two ways (a
// register or a number, a register or a label), both.
std::vector<std::string> samples(const OpcodeRow& row, int i) {
  std::string r = "r";
  r += std::to_string(i + 1);
  switch (row.sig.arg[i]) {
    case Arg::reg: return (row.sig.immediate >> i & 1) ? std::vector<std::string>{r, "5"} : std::vector<std::string>{r};
    case Arg::freg: return {"fp6"};
    case Arg::num: return {"3"};
    case Arg::nreg: return {"2"};
    case Arg::dist: return {"0"};
    case Arg::delta: return {"1"};
    case Arg::label: return (row.sig.immediate >> i & 1) ? std::vector<std::string>{"Target", "0"} : std::vector<std::string>{"Target"};
    case Arg::def: return {"Name"};
    case Arg::value: return {"5", "Name"};
    case Arg::flit: return {"2.5"};
    case Arg::word: return {"here"};
    case Arg::ret: return {r, "1"};
    case Arg::callee: return {r, "Proc"};
    case Arg::words: return {"2"};
  }
  return {r};
}

struct Count {
  int min = 1 << 30, max = -1;
  std::string min_line, max_line;
};

// Every way of writing the line: each number of optional operands, each
// sample of each operand.
Count count(const OpcodeRow& row) {
  Count c;
  for (int present = row.sig.required; present <= row.sig.n; present++) {
    std::vector<std::vector<std::string>> s;
    std::size_t total = 1;
    for (int i = 0; i < present; i++) {
      s.push_back(samples(row, i));
      total *= s.back().size();
    }
    for (std::size_t k = 0; k < total; k++) {
      std::string line = row.mnemonic;
      std::size_t rest = k;
      for (int i = 0; i < present; i++) {
        line += i ? ", " : " ";
        line += s[static_cast<std::size_t>(i)][rest % s[static_cast<std::size_t>(i)].size()];
        rest /= s[static_cast<std::size_t>(i)].size();
      }
      if (std::string_view(row.mnemonic) == "str") line += " \"text\"";
      int n = instructions(translate(line));
      if (n < c.min) c.min = n, c.min_line = line;
      if (n >= c.max) c.max = n, c.max_line = line;  // the line with the most operands
    }
  }
  return c;
}

// Strings joined, stepwise.
std::string cat(std::initializer_list<std::string_view> parts) {
  std::string s;
  for (std::string_view p : parts) s += p;
  return s;
}

// Text for a roff line or a table cell.
std::string roff(std::string_view s) {
  std::string r;
  for (char ch : s) {
    if (ch == '\\') r += "\\e";
    else if (ch == '-') r += "\\-";
    else r += ch;
  }
  if (!r.empty() && (r[0] == '.' || r[0] == '\'')) r.insert(0, "\\&");
  return r;
}

std::string cell(std::string_view s) { return s.empty() ? std::string("\\(em") : roff(s); }

std::string table() {
  std::vector<const OpcodeRow*> rows;
  for (const OpcodeRow& row : qv::opcode_table) rows.push_back(&row);
  std::sort(rows.begin(), rows.end(),
            [](const OpcodeRow* a, const OpcodeRow* b) { return std::strcmp(a->mnemonic, b->mnemonic) < 0; });
  std::string t, notes;
  t += ".TS\ntab(@);\nlb lb lb lb rb.\nOpcode@Operands@Reads@Writes@MIPS\n_\n";
  for (const OpcodeRow* row : rows) {
    Count c = count(*row);
    std::string n = std::to_string(c.min);
    if (c.max != c.min) {
      n += "\\(en";
      n += std::to_string(c.max);
      notes += ".TP\n.B ";
      notes += row->mnemonic;
      notes += cat({"\n", std::to_string(c.min), " for\n.BR \"", roff(c.min_line), "\" ,\n"});
      notes += cat({std::to_string(c.max), " for\n.BR \"", roff(c.max_line), "\" .\n"});
    }
    t += ".T&\nlb li l l r.\n";
    t += row->mnemonic;
    t += cat({"@", cell(qv::operands_text(*row)), "@", cell(row->doc.reads), "@", cell(row->doc.writes), "@", n});
    t += "\n.T&\nl l s s s.\n@T{\n";
    t += roff(row->doc.meaning);
    // Operands where SPIM's instruction also takes a number.
    for (int i = 0; i < row->sig.n; i++)
      if (row->sig.immediate >> i & 1) t += cat({"; p", std::to_string(i + 1), " may be a number"});
    t += "\nT}\n";
  }
  t += ".TE\n";
  if (!notes.empty())
    t += cat({".PP\nWhere the count is a range, it depends on the operands:\n", notes});
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: quorvelin-opcode-table TEMPLATE OUTPUT\n";
    return 2;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::cerr << "quorvelin-opcode-table: cannot read " << argv[1] << "\n";
    return 1;
  }
  std::string page, l;
  bool placed = false;
  while (std::getline(in, l)) {
    if (l.starts_with(kInclude)) {
      std::ifstream file(l.substr(kInclude.size()));
      if (!file) {
        std::cerr << "quorvelin-opcode-table: cannot read " << l.substr(kInclude.size()) << "\n";
        return 1;
      }
      for (std::string t; std::getline(file, t);) {
        t.erase(t.find_last_not_of(" \t\r") + 1);
        page += t.empty() ? std::string("\\&") : roff(t);
        page += '\n';
      }
    } else if (l == kMarker) {
      page += table();
      placed = true;
    } else {
      page += l + "\n";
    }
  }
  if (!placed) {
    std::cerr << "quorvelin-opcode-table: " << argv[1] << " has no line " << kMarker << "\n";
    return 1;
  }
  std::ofstream out(argv[2]);
  out << page;
  out.close();
  if (!out) {
    std::cerr << "quorvelin-opcode-table: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
