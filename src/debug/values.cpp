// The debugger's values: print and its expressions, display, x, set var,
// info registers, breakpoint conditions.
#include "debug/commands.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "check/check.h"
#include "run/options.h"
#include "run/report.h"
#include "spim/fault.h"
#include "spim/process.h"

namespace qv::debug {

void Debugger::show_displays() {
  for (Shown& d : shown_) {
    if (d.watch) continue;
    std::string a, err;
    uint32_t v = 0;
    char fmt = 0;
    // "display/FMT EXPR" as print /FMT shows it.
    if (printed(d.expr, a, v, fmt, err))
      say(std::to_string(d.number) + ": " + a + " = " + format(v, fmt) + "\n");
    else
      say(std::to_string(d.number) + ": " + d.expr + ": " + err);
  }
}

std::string Debugger::describe(uint32_t addr) {
  uint32_t off = 0;
  const std::string* name = e_.symbol_at(addr, off);
  if (!name) return {};
  // Past a procedure's code or a data item the nearest label means little.
  if (off > 4096) return {};
  // (Built in steps: GCC 12 warns falsely on "literal" + string here.)
  std::string s = " <";
  s += *name;
  if (off) {
    s += '+';
    s += std::to_string(off);
  }
  s += '>';
  return s;
}

void Debugger::examine(std::string_view arg) {
  // x/N ADDR: N words from ADDR (a number, a label, or an expression).
  std::string a = trim(arg);
  uint32_t count = 1;
  // gdb's /FMT: a count, then letters; of them x (hexadecimal), d
  // (decimal), w (words) and s (a string) are this command's.
  std::string letters;
  if (!a.empty() && a[0] == '/') {
    char* end = nullptr;
    count = static_cast<uint32_t>(std::strtoul(a.c_str() + 1, &end, 10));
    if (count == 0 || count > 4096) count = 1;
    std::size_t k = static_cast<std::size_t>(end - a.c_str());
    while (k < a.size() && std::isalpha(static_cast<unsigned char>(a[k]))) letters += a[k++];
    if (letters.find_first_not_of("xdws") != std::string::npos) {
      say("Write x/N ADDR (N words in hexadecimal), x/Nd ADDR (in decimal) or x/s ADDR (a string).\n");
      return;
    }
    a = trim(std::string_view(a).substr(k));
  }
  bool decimal = letters.find('d') != std::string::npos;
  if (letters.find('s') != std::string::npos) {
    // x/s ADDR: the string there.
    std::string name = a, err, text;
    uint32_t addr = 0;
    if (name.empty() || !(e_.symbol_addr(name, addr) || value_of(name, addr, err))) {
      say("Write x/s ADDR, with ADDR a number, a label or a print expression.\n");
    } else if (!string_at(addr, false, text)) {
      say("Cannot read the string at " + qv::spim::hex(addr) + ".\n");
    } else {
      say(qv::spim::hex(addr) + describe(addr) + ":\t\"" + text + "\"\n");
    }
    return;
  }
  uint32_t addr = 0;
  std::string err;
  std::string name = a;
  char* end = nullptr;
  bool ok = !a.empty() && (e_.symbol_addr(a, addr) || value_of(name, addr, err) ||
                           ((addr = static_cast<uint32_t>(std::strtoul(a.c_str(), &end, 0))), !*end));
  if (!ok) {
    say("Write x/N ADDR, with ADDR a number, a label or a print expression.\n");
    return;
  }
  uint32_t exact = addr;
  addr &= ~3u;
  std::vector<uint32_t> words;
  for (uint32_t i = 0; i < count; i++) {
    uint32_t v = 0;
    if (!e_.word(addr + 4 * i, v)) break;
    words.push_back(v);
  }
  // Words that are a label's address (a class table's superclass and
  // methods, a pointer to a string) are named, one a line.
  auto label_of = [&](uint32_t v) {
    uint32_t off = 0;
    const std::string* n = e_.symbol_at(v, off);
    return n && off == 0 ? " <" + *n + ">" : std::string();
  };
  bool named = std::any_of(words.begin(), words.end(), [&](uint32_t v) { return !label_of(v).empty(); });
  for (uint32_t i = 0; i < words.size(); i++) {
    if (named || i % 4 == 0) {
      if (i) say("\n");
      say(qv::spim::hex(addr + 4 * i) + describe(addr + 4 * i) + ":");
    }
    // (Built in steps: GCC 12 warns falsely on "literal" + string here.)
    std::string w(1, '\t');
    w += decimal ? std::to_string(static_cast<int32_t>(words[i])) : qv::spim::hex(words[i]);
    if (!decimal) w += label_of(words[i]);
    say(w);
  }
  if (words.size() < count) {
    if (!words.empty()) say("\n");
    say("Cannot read the word at " + qv::spim::hex(addr + 4 * static_cast<uint32_t>(words.size())) + ".\n");
    return;
  }
  say("\n");
  // Code: the line it belongs to.
  if (int32_t piece = e_.piece_of(addr); piece >= 0) {
    say("code of " + where(piece) + ":\t" + trim(srcs_[t_.pieces[piece].file].line(t_.pieces[piece].line)) + "\n");
    return;
  }
  // A string: its text, up to its end or a screenful.
  uint32_t off = 0;
  const std::string* label = e_.symbol_at(exact, off);
  std::string text;
  if (label && off == 0 && string_at(exact, true, text)) say("<" + *label + ">: \"" + text + "\"\n");
}

bool Debugger::string_at(uint32_t at, bool strict, std::string& text) {
  text.clear();
  for (; text.size() < 200; at++) {
    uint32_t w = 0;
    if (!e_.word(at & ~3u, w)) return false;
    unsigned char c = static_cast<unsigned char>(w >> (8 * (at & 3)));  // SPIM runs little-endian
    if (c == 0) return !strict || !text.empty();
    if (c == '\n') {
      text += "\\n";
    } else if (c == '\t') {
      text += "\\t";
    } else if (c == '"' || c == '\\') {
      text.push_back('\\');
      text.push_back(static_cast<char>(c));
    } else if (c < 32 || c >= 127) {
      if (strict) return false;  // not a string
      char b[8];
      std::snprintf(b, sizeof b, "\\%03o", c);
      text += b;
    } else {
      text.push_back(static_cast<char>(c));
    }
  }
  text += "...";
  return true;
}

namespace {

// fpN and $fN: float register N.
bool float_reg(const std::string& r, int& n) {
  std::size_t digits = r.rfind("fp", 0) == 0 ? 2 : r.rfind("$f", 0) == 0 ? 2 : 0;
  if (!digits || r.size() == digits || r.size() > digits + 2 ||
      r.find_first_not_of("0123456789", digits) != std::string::npos)
    return false;
  n = std::atoi(r.c_str() + digits);
  return n < 32;
}

}  // namespace

bool Debugger::value_of(std::string& a, uint32_t& v, std::string& err, Place* where) {
  Place here;
  if (!where) where = &here;
  a = trim(a);
  // EXPR + EXPR and EXPR - EXPR (left to right), (EXPR) and *(EXPR) around
  // the forms below; "var D, N" holds a minus of its own.
  if (a.rfind("var", 0) != 0) {
    int depth = 0;
    std::size_t split = std::string::npos;
    for (std::size_t i = 0; i < a.size(); i++) {
      depth += a[i] == '(' ? 1 : a[i] == ')' ? -1 : 0;
      if (i == 0 || depth != 0 || (a[i] != '+' && a[i] != '-')) continue;
      // A sign after an operator is the operand's own.
      std::size_t before = a.find_last_not_of(" \t", i - 1);
      if (before != std::string::npos && a[before] != '+' && a[before] != '-' && a[before] != '(') split = i;
    }
    if (split != std::string::npos) {
      std::string lhs = a.substr(0, split), rhs = a.substr(split + 1);
      uint32_t l = 0, r = 0;
      Place pl, pr;
      if (!value_of(lhs, l, err, &pl) || !value_of(rhs, r, err, &pr)) return false;
      char op = a[split];
      v = op == '+' ? l + r : l - r;
      a = lhs;
      a += ' ';
      a += op;
      a += ' ';
      a += rhs;
      *where = {Place::value, 0, 0};
      return true;
    }
    if (a.size() > 2 && a.front() == '(' && a.back() == ')') {
      std::string inner = a.substr(1, a.size() - 2);
      if (!value_of(inner, v, err, where)) return false;
      a = "(" + inner + ")";
      return true;
    }
    if (a.size() > 3 && a.compare(0, 2, "*(") == 0 && a.back() == ')') {
      std::string inner = a.substr(2, a.size() - 3);
      uint32_t addr = 0;
      Place pi;
      if (!value_of(inner, addr, err, &pi)) return false;
      *where = {Place::word, 0, addr};
      if (!e_.word(addr, v)) {
        err = "Cannot read the word at " + qv::spim::hex(addr) + ".\n";
        return false;
      }
      a = "*(" + inner + ")";
      return true;
    }
  }
  bool ok = false;
  auto reg_of = [](const std::string& r, int& n) {
    if (r == "rr") {
      n = 2;
      return true;
    }
    if (r.size() >= 2 && r[0] == 'r' && r.find_first_not_of("0123456789", 1) == std::string::npos && r.size() <= 3) {
      int k = std::atoi(r.c_str() + 1);
      if (k > 13) return false;
      n = 9 + k;
      return true;
    }
    if (r.size() >= 2 && r[0] == '$' && r.find_first_not_of("0123456789", 1) == std::string::npos && r.size() <= 3) {
      n = std::atoi(r.c_str() + 1);
      return n < 32;
    }
    // MIPS names: $v0, $a0, $t0, $sp, $fp, $ra, ...
    static constexpr std::string_view kNames[32] = {"zero", "at", "v0", "v1", "a0", "a1", "a2", "a3",
                                                     "t0",   "t1", "t2", "t3", "t4", "t5", "t6", "t7",
                                                     "s0",   "s1", "s2", "s3", "s4", "s5", "s6", "s7",
                                                     "t8",   "t9", "k0", "k1", "gp", "sp", "fp", "ra"};
    for (int k = 0; k < 32 && r.size() > 1 && r[0] == '$'; k++)
      if (std::string_view(r).substr(1) == kNames[k]) {
        n = k;
        return true;
      }
    return false;
  };
  int n = 0;
  if (!a.empty() && a[0] == '*') {
    std::string inner = trim(std::string_view(a).substr(1));
    uint32_t addr = 0;
    if (reg_of(inner, n)) {
      ok = reg(n, addr);
    } else {
      char* end = nullptr;
      addr = static_cast<uint32_t>(std::strtoul(inner.c_str(), &end, 0));
      ok = !inner.empty() && !*end;
    }
    if (!ok) {
      err = "Cannot read " + inner + ".\n";
      return false;
    }
    *where = {Place::word, 0, addr};
    if (!e_.word(addr, v)) {
      err = "Cannot read the word at " + qv::spim::hex(addr) + ".\n";
      return false;
    }
  } else if (a.rfind("var", 0) == 0 && a.size() > 3 && (a[3] == ' ' || a[3] == '\t')) {
    // The word "var D, N, rX" would address from the selected frame.
    std::string rest = a.substr(4);
    for (char& c : rest)
      if (c == ',') c = ' ';
    char* end = nullptr;
    long d = std::strtol(rest.c_str(), &end, 10);
    char* end2 = nullptr;
    long k = std::strtol(end, &end2, 10);
    if (end == rest.c_str() || end2 == end || d < 0 || trim(end2) != "") {
      err = "Write a variable as the program does: var D, N.\n";
      return false;
    }
    frames();
    if (in_start_up(selected_)) {
      err = "Not in a procedure: the start-up code has no variables.\n";
      return false;
    }
    if (selected_ >= frames_.size() || (selected_ == 0 && entry_of(e_.piece()) == e_.piece())) {
      err = "The procedure's record is not built yet: step once.\n";
      return false;
    }
    uint32_t link = frames_[selected_].fp + 8;
    for (long i = 0; i < d; i++) {
      uint32_t next = 0, beyond = 0;
      if (!e_.word(link, next) || !e_.word(next, beyond)) {
        err = "Cannot follow the static links.\n";
        return false;
      }
      // The start-up code's scope, outside every procedure, links to
      // itself: there is no scope past it.
      if (beyond == next) {
        std::string proc(frames_[selected_].procedure);
        err = "No enclosing scope " + std::to_string(d) + " levels out: " +
              (i == 0 ? proc + " is the outermost procedure (var 0 only)"
                      : proc + " lies " + std::to_string(i) + (i == 1 ? " level" : " levels") + " deep (var 0 to var " +
                            std::to_string(i) + ")") +
              ".\n";
        return false;
      }
      link = next;
    }
    uint32_t addr = link - 4 * static_cast<uint32_t>(k + 1);
    *where = {Place::word, 0, addr};
    if (!e_.word(addr, v)) {
      err = "Cannot read the word at " + qv::spim::hex(addr) + ".\n";
      return false;
    }
    a = "var " + std::to_string(d) + ", " + std::to_string(k);
  } else if (reg_of(a, n)) {
    *where = reg_place(n);
    if (!reg(n, v)) {
      err = "Cannot read " + a + ".\n";
      return false;
    }
  } else if (float_reg(a, n)) {
    // Float registers are not saved by calls: every frame sees the live one.
    *where = {Place::fpr, n, 0};
    if (!e_.freg(n, v)) {
      err = "Cannot read " + a + ".\n";
      return false;
    }
  } else if (!a.empty() && (std::isdigit(static_cast<unsigned char>(a[0])) || a[0] == '-')) {
    // A number (0x... in hexadecimal).
    char* end = nullptr;
    errno = 0;
    long long k = std::strtoll(a.c_str(), &end, 0);
    if (*end || errno || k < INT32_MIN || k > UINT32_MAX) {
      err = "Invalid number \"" + a + "\".\n";
      return false;
    }
    v = static_cast<uint32_t>(k);
    *where = {Place::value, 0, 0};
  } else if (uint32_t addr = 0; e_.symbol_addr(a, addr)) {
    // A label of the program: its address.
    v = addr;
    *where = {Place::value, 0, 0};
  } else {
    err = "No symbol \"" + a + "\": write rN, rr, fpN, $N, *ADDR, *rN, var D, N, a number or a label (+, - and *( ) "
          "join them).\n";
    return false;
  }
  return true;
}

bool Debugger::assign(std::string expr, uint32_t v, std::string& err) {
  uint32_t old = 0;
  Place where;
  std::string shown = expr;
  if (!value_of(shown, old, err, &where)) return false;
  if (where.kind == Place::fpr || where.kind == Place::value) {
    err = "Cannot set " + shown + ": it is not a general register or a word of memory.\n";
    return false;
  }
  std::string error;
  if (where.kind == Place::gpr ? e_.set_reg(where.reg, v, error) : e_.set_word(where.addr, v, error)) return true;
  err = "Cannot set " + shown + ": " + error + "\n";
  return false;
}

std::string Debugger::format(uint32_t v, char fmt) {
  char b[40];
  if (fmt == 'x') {
    std::snprintf(b, sizeof b, "0x%08x", v);
  } else if (fmt == 't') {
    std::string bits;
    for (int i = 31; i >= 0; i--)
      if (!bits.empty() || (v >> i) & 1 || i == 0) bits.push_back((v >> i) & 1 ? '1' : '0');
    return bits;
  } else if (fmt == 'f') {
    float f;
    std::memcpy(&f, &v, sizeof f);
    std::snprintf(b, sizeof b, "%g", static_cast<double>(f));
  } else if (fmt == 'c' && v >= 32 && v < 127) {
    std::snprintf(b, sizeof b, "%d '%c'", static_cast<int>(v), static_cast<char>(v));
  } else if (fmt == 'c') {
    std::snprintf(b, sizeof b, "%d '\\%03o'", static_cast<int>(v), static_cast<unsigned>(v & 255));
  } else {
    std::snprintf(b, sizeof b, "%d", static_cast<int32_t>(v));
  }
  return b;
}

bool Debugger::printed(std::string_view arg, std::string& shown, uint32_t& v, char& fmt, std::string& err) {
  shown = trim(arg);
  fmt = 0;
  if (shown.size() >= 2 && shown[0] == '/') {
    fmt = shown[1];
    shown = trim(std::string_view(shown).substr(2));
  }
  Place where;
  if (!value_of(shown, v, err, &where)) return false;
  // A float register holds a float unless asked otherwise.
  if (!fmt) fmt = where.kind == Place::fpr ? 'f' : 'd';
  return true;
}

void Debugger::print_expr(std::string_view arg) {
  std::string a, err;
  uint32_t v = 0;
  char fmt = 0;
  if (!printed(arg, a, v, fmt, err)) {
    say(err);
    return;
  }
  say(a + " = " + format(v, fmt) + "\n");
}

void Debugger::info_registers(std::string_view which) {
  static constexpr const char* kNames[] = {"t1", "t2", "t3", "t4", "t5", "t6", "t7",
                                           "s0", "s1", "s2", "s3", "s4", "s5", "s6"};
  // "info registers r3 rr": those only, in the order asked.
  std::vector<int> rows;
  for (std::string w : words(which)) {
    // r0 .. r13 written plainly (no leading zeros), or rr.
    bool plain = w.size() >= 2 && w.size() <= 3 && w[0] == 'r' && w.find_first_not_of("0123456789", 1) == std::string::npos &&
                 !(w.size() == 3 && w[1] == '0');
    int k = w == "rr" ? 14 : plain ? std::atoi(w.c_str() + 1) : -1;
    if (k < 0 || (k == 14 && w != "rr") || k > 14) {
      say("Invalid register `" + w + "': the registers are r0 to r13 and rr.\n");
      return;
    }
    rows.push_back(k);
  }
  if (rows.empty())
    for (int k = 0; k <= 14; k++) rows.push_back(k);
  for (int k : rows) {
    int n = k < 14 ? 9 + k : 2;
    uint32_t v = 0;
    if (!reg(n, v)) {  // as the selected frame sees them
      say("The program is not being run.\n");
      return;
    }
    char name[16], b[96];
    if (k < 14)
      std::snprintf(name, sizeof name, "r%d", k);
    else
      std::snprintf(name, sizeof name, "rr");
    std::snprintf(b, sizeof b, "%-4s $%-2d %-3s 0x%08x  %d\n", name, n, k < 14 ? kNames[k] : "v0", v,
                  static_cast<int32_t>(v));
    say(b);
  }
}

bool Debugger::condition_holds(const std::string& cond, std::string& err) {
  static constexpr std::string_view kOps[] = {"==", "!=", "<=", ">=", "<", ">"};
  for (std::string_view op : kOps) {
    std::size_t at = cond.find(op);
    if (at == std::string::npos) continue;
    std::string lhs = trim(std::string_view(cond).substr(0, at));
    std::string rhs = trim(std::string_view(cond).substr(at + op.size()));
    char* end = nullptr;
    long long want = std::strtoll(rhs.c_str(), &end, 0);
    if (rhs.empty() || *end) {
      err = "the right side is not a number\n";
      return false;
    }
    uint32_t v = 0;
    if (!value_of(lhs, v, err)) return false;
    long long have = static_cast<int32_t>(v);
    if (op == "==") return have == want;
    if (op == "!=") return have != want;
    if (op == "<=") return have <= want;
    if (op == ">=") return have >= want;
    if (op == "<") return have < want;
    return have > want;
  }
  err = "write EXPR OP NUMBER, with ==, !=, <, <=, > or >=\n";
  return false;
}

}  // namespace qv::debug
