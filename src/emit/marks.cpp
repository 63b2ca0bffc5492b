#include "emit/marks.h"

#include <cstdio>

namespace qv {

namespace {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == ','; }

// Past an optional "LABEL:" and the blanks behind it; `label` (when
// given) is set to the label's name, or left empty.
std::size_t skip_label(std::string_view s, std::string_view* label = nullptr) {
  std::size_t i = 0;
  while (i < s.size() && blank(s[i])) i++;
  std::size_t j = i;
  while (j < s.size() && !blank(s[j]) && s[j] != ':' && s[j] != '#' && s[j] != '"') j++;
  if (j < s.size() && s[j] == ':' && j > i) {
    if (label) *label = s.substr(i, j - i);
    i = j + 1;
    while (i < s.size() && blank(s[i])) i++;
  }
  return i;
}

// Instructions that cannot raise an exception: their lines need no label,
// since a fault's address always lies in the code of a line that can.
// (SPIM's mul wraps; the float operations do not trap; branches to where
// there is no code fail at the target.)
bool cannot_fault(std::string_view rest) {
  std::size_t e = 0;
  while (e < rest.size() && !blank(rest[e]) && rest[e] != '#') e++;
  std::string_view m = rest.substr(0, e);
  static constexpr std::string_view safe[] = {
      "li",    "la",    "move",  "nop",   "b",     "beq",   "bne",   "beqz",  "bnez",  "blt",   "ble",
      "bgt",   "bge",   "bltz",  "blez",  "bgtz",  "bgez",  "j",     "mfc1",  "mtc1",  "li.s",  "c.lt.s",
      "c.le.s", "c.eq.s", "bc1t", "bc1f", "xori",  "ori",   "andi",  "and",   "or",    "xor",   "nor",
      "slt",   "slti",  "sltu",  "mflo",  "mfhi",  "mul",   "addiu", "addu",  "subu",  "sll",   "srl",
      "sra",   "neg.s", "add.s", "sub.s", "mul.s", "div.s", "mov.s", "not",   "seq",   "sne",   "sge",
      "sgt",   "sle"};
  for (std::string_view k : safe)
    if (m == k) return true;
  return false;
}

bool starts_word(std::string_view s, std::string_view w) {
  return s.substr(0, w.size()) == w && (s.size() == w.size() || blank(s[w.size()]) || s[w.size()] == '#');
}

}  // namespace

uint32_t code_column(std::string_view line) { return static_cast<uint32_t>(skip_label(line)) + 1; }

std::string_view MarkedAssembly::plain_line(std::string_view plain, uint32_t n) const {
  if (n >= plain_starts.size()) return {};
  std::size_t b = plain_starts[n];
  std::size_t e = n + 1 < plain_starts.size() ? plain_starts[n + 1] : plain.size();
  std::string_view s(plain.data() + b, e - b);
  if (!s.empty() && s.back() == '\n') s.remove_suffix(1);
  return s;
}

namespace {

void mark(std::string_view plain, MarkedAssembly& a, bool every_line) {
  a.text.clear();
  a.plain_starts.clear();
  a.run_to_plain.clear();
  a.label_line.clear();
  a.text.reserve(plain.size() + plain.size() / 4);
  bool in_text = false;  // the header switches to .data first
  std::string_view all(plain);
  std::size_t pos = 0;
  uint32_t n = 0;
  char label[32];
  while (pos < all.size()) {
    std::size_t nl = all.find('\n', pos);
    std::size_t end = nl == std::string_view::npos ? all.size() : nl + 1;
    std::string_view line = all.substr(pos, end - pos);
    a.plain_starts.push_back(pos);
    std::string_view body = line.substr(0, line.size() - (nl == std::string_view::npos ? 0 : 1));
    std::string_view name;
    std::string_view rest = body.substr(skip_label(body, &name));
    bool code = false;
    if (!rest.empty() && rest[0] == '.') {
      if (starts_word(rest, ".text") || starts_word(rest, ".ktext")) in_text = true;
      if (starts_word(rest, ".data") || starts_word(rest, ".kdata")) in_text = false;
    } else if (!rest.empty() && rest[0] != '#') {
      code = in_text && (every_line || !cannot_fault(rest));
    }
    if (every_line && !name.empty()) {
      // The program's labels are declared global too, so that the debugger
      // can name the procedure, string or table an address falls in.
      a.text.append("\t.globl ");
      a.text.append(name);
      a.text.push_back('\n');
      a.run_to_plain.push_back(-1);
    }
    if (code) {
      if (every_line) {
        // SPIM names a label in its commands only when it was declared
        // global before it was defined.
        int k = std::snprintf(label, sizeof label, "\t.globl __qv%zu\n", a.label_line.size());
        a.text.append(label, static_cast<std::size_t>(k));
        a.run_to_plain.push_back(-1);
      }
      int k = std::snprintf(label, sizeof label, "__qv%zu:\n", a.label_line.size());
      a.text.append(label, static_cast<std::size_t>(k));
      a.run_to_plain.push_back(-1);
      a.label_line.push_back(n);
    }
    a.text.append(line);
    if (nl == std::string_view::npos) a.text.push_back('\n');
    a.run_to_plain.push_back(static_cast<int32_t>(n));
    pos = end;
    n++;
  }
  a.text.append("\t.data\n__qvmap:");
  for (std::size_t k = 0; k < a.label_line.size(); k++) {
    int len = std::snprintf(label, sizeof label, "%s__qv%zu", k % 8 ? ", " : "\n\t.word ", k);
    a.text.append(label, static_cast<std::size_t>(len));
  }
  a.text.append("\n__qvmapend:\n");
}

}  // namespace

void mark_faults(std::string_view plain, MarkedAssembly& a) { mark(plain, a, false); }

void mark_lines(std::string_view plain, MarkedAssembly& a) { mark(plain, a, true); }

}  // namespace qv
