// Operands: how many the template fills, and whether each is what the
// template needs, judged by what the mapping makes of it and what SPIM does
// with the instruction it lands in; and the result register.
#include <algorithm>
#include <cstring>
#include <vector>

#include "check/checker.h"
#include "templates/handlers.h"
#include "input/tokenizer.h"

namespace qv::check {

const char* what_register(long long n) {
  switch (n) {
    case 23: return "which the templates use as scratch (boolean input) and the start-up code sets";
    case 24:
    case 25: return "which the templates use as scratch";
    case 26:
    case 27: return "which belongs to the exception handler and may change at any moment";
    case 28: return "which procedure entry does not save, so calls do not keep it";
    case 29: return "the stack pointer";
    case 30: return "the frame pointer";
    case 31: return "the return address, which every call overwrites";
  }
  return "";
}


namespace {

// The operands of most lines: r0..r13 or rr where a register is read or
// written, a small decimal number where one is counted.  Nothing about them
// needs a closer look.
bool plain(Arg a, const Field& f) {
  const char* p = f.p;
  switch (a) {
    case Arg::reg:
      return (f.n == 2 && p[0] == 'r' && ((p[1] >= '0' && p[1] <= '9') || p[1] == 'r')) ||
             (f.n == 3 && p[0] == 'r' && p[1] == '1' && p[2] >= '0' && p[2] <= '3');
    case Arg::num:
    case Arg::nreg:
    case Arg::dist:
    case Arg::delta:
      if (f.n == 0 || f.n > 6) return false;
      for (uint32_t i = 0; i < f.n; i++)
        if (p[i] < '0' || p[i] > '9') return false;
      return true;
    default:
      return false;
  }
}

}  // namespace

void Checker::check_operands(const OpcodeRow& row) {
  const Field* f[5] = {&st_.p1, &st_.p2, &st_.p3, &st_.p4, &st_.p5};
  std::string_view op = st_.opcode.sv();  // the mnemonic itself
  Op k = kind_;
  int present = 0;
  while (present < 5 && !f[present]->empty()) present++;
  // The pieces of a str literal are not operands.
  if (k == Op::str && first_quote_ >= 0) {
    int j = 0;
    while (j < present && f[j]->p - st_.line.b < first_quote_) j++;
    present = j;
  }
  const Sig& sig = row.sig;
  int need = sig.required, most = sig.n;
  bool rtn_reg = false;
  if (k == Op::rtn && present >= 1) {
    RegForm r = reg_form(st_.p1.sv());
    rtn_reg = r.kind != RegForm::none || st_.p1.at(0) == '$';
    if (rtn_reg) need = 2;
    else most = 1;
  }
  if (present < need) {
    uint32_t col = present ? col_of(*f[present - 1]) + f[present - 1]->n : col_of(st_.opcode) + st_.opcode.n;
    if (k == Op::cls && present == 1) {
      report(Severity::error, class_table, col,
             "cls without a superclass: the table's first word is written empty and SPIM rejects it");
    } else {
      std::string m = quoted(op) + " needs " + std::to_string(need) + " operand" + (need == 1 ? "" : "s") + ", " +
                      (present ? std::to_string(present) : std::string("none")) +
                      " given: the translator writes an empty operand and SPIM rejects the line";
      if (k == Op::rtn && rtn_reg) m = "'rtn' with a register to return needs the number of words to remove as well";
      report(Severity::error, operand_count, col, m);
    }
  }
  if (present > most) {
    report(Severity::warning, extra_operand, col_of(*f[most]),
           "extra operand " + quoted(f[most]->sv()) + ": the translator ignores it");
  }
  int upto = std::min(present, static_cast<int>(sig.n));
  for (int i = 0; i < upto; i++) {
    Arg a = sig.arg[i];
    if (k == Op::rtn && i == 0) a = rtn_reg ? Arg::reg : Arg::num;
    if (plain(a, *f[i])) continue;
    check_arg(a, *f[i], row);
  }
  if (k == Op::str) check_literal(row);
}

std::string Checker::render(const OpcodeRow& row) { return render_text(row, piece_); }

// What the translator writes for `text` as a line of its own, through its own
// handler, on a state of its own over the checker's writers.
std::string Checker::render_text(const OpcodeRow& row, std::string_view text) {
  sink_.clear();
  State s(out_, err_);
  std::size_t n = std::min(text.size(), static_cast<std::size_t>(kLinePositions));
  std::memcpy(s.line.b, text.data(), n);
  s.line.b[n] = '\0';
  tokonize(s, static_cast<int>(n));
  row.handler(s);
  rendered_labels_ = s.internal_label_cnt;
  out_.flush();
  err_.flush();
  std::string out;
  out.swap(sink_);
  return out;
}

namespace {

// One instruction of a template's translation: which general registers it
// writes and reads.
struct Ins {
  std::string text;
  std::vector<long long> writes, reads;
  uint32_t float_writes = 0;  // bit n: $fn
};

// Instructions whose first operand is read, not written.
bool reads_first(std::string_view m) {
  static constexpr std::string_view kinds[] = {"sw",   "sb",   "sh",   "swc1", "s.s",  "beq",  "bne",  "beqz",
                                                "bnez", "blt",  "ble",  "bgt",  "bge",  "bltz", "bgez", "blez",
                                                "bgtz", "b",    "j",    "jr",   "jal",  "jalr", "mtc1", "bc1t",
                                                "bc1f", "c.eq.s", "c.lt.s", "c.le.s", "syscall", "nop"};
  for (std::string_view k : kinds)
    if (k == m) return true;
  return false;
}

std::vector<Ins> instructions(std::string_view text) {
  std::vector<Ins> list;
  long long v0 = -1;  // the service the next syscall asks for
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t nl = text.find('\n', at);
    if (nl == std::string_view::npos) nl = text.size();
    std::string_view l = text.substr(at, nl - at);
    at = nl + 1;
    l = l.substr(0, l.find('#'));
    // Words, with a label at the start left out.
    std::vector<std::string_view> w;
    for (std::size_t i = 0; i < l.size();) {
      while (i < l.size() && (l[i] == ' ' || l[i] == '\t' || l[i] == ',')) i++;
      std::size_t b = i;
      while (i < l.size() && l[i] != ' ' && l[i] != '\t' && l[i] != ',') i++;
      if (i > b) w.push_back(l.substr(b, i - b));
    }
    if (!w.empty() && w[0].back() == ':') w.erase(w.begin());
    if (w.empty() || w[0][0] == '.') continue;
    Ins ins;
    for (std::string_view x : w) {
      if (!ins.text.empty()) ins.text += ' ';
      ins.text.append(x);
    }
    std::string_view m = w[0];
    for (std::size_t k = 1; k < w.size(); k++) {
      std::string_view x = w[k];
      std::size_t open = x.find('(');
      if (open != std::string_view::npos) x = x.substr(open + 1, x.find(')') - open - 1);
      MipsReg r = mips_reg(x);
      bool write = k == 1 && open == std::string_view::npos && !reads_first(m);
      if (r.kind == MipsReg::fpr) {
        if ((write || (m == "mtc1" && k == 2)) && r.n < 32) ins.float_writes |= 1u << r.n;
        continue;
      }
      if (r.kind != MipsReg::gpr) continue;
      (write ? ins.writes : ins.reads).push_back(r.n);
      if (write && r.n == 2 && m == "li") {
        long long v;
        v0 = int_literal(w.size() > 2 ? w[2] : std::string_view(), &v) ? v : -1;
      }
    }
    if (m == "jal" || m == "jalr") ins.writes.push_back(31);
    if (m == "syscall" && (v0 == 5 || v0 == 12)) ins.writes.push_back(2);
    if (m == "syscall" && v0 == 6) ins.float_writes |= 1;
    list.push_back(std::move(ins));
  }
  return list;
}

bool has(const std::vector<long long>& v, long long x) { return std::find(v.begin(), v.end(), x) != v.end(); }

}  // namespace

// The float registers each template writes of its own accord: the row is
// translated with plain operands (fp31 where it takes a float register, which
// no template uses itself).
void Checker::find_float_scratch() {
  for (std::size_t i = 0; i < std::size(opcode_table); i++) {
    const OpcodeRow& row = opcode_table[i];
    std::string text(row.mnemonic);
    for (int k = 0; k < row.sig.n; k++) {
      static constexpr const char* plain[] = {"r0", "fp31", "1", "1", "0", "0", "X", "X",
                                              "1", "1.0", "x", "1", "r1", "1"};
      text += k ? ", " : " ";
      text += plain[static_cast<int>(row.sig.arg[k])];
    }
    std::string out = render_text(row, text);
    uint32_t m = 0;
    for (const Ins& ins : instructions(out)) m |= ins.float_writes;
    float_scratch_[i] = m & ~(1u << 31);
    // The internal labels it takes and defines: a template takes the same
    // number whatever its operands.
    ml_takes_[i] = static_cast<uint8_t>(rendered_labels_);
    for (std::size_t at = 0; at < out.size();) {
      std::size_t nl = std::min(out.find('\n', at), out.size());
      std::string_view l(out.data() + at, nl - at);
      at = nl + 1;
      std::size_t colon = l.find(':');
      long long k = colon == std::string_view::npos ? -1 : internal_label(l.substr(0, colon));
      if (k >= 0 && k < 32) ml_defines_[i] |= 1u << k;
    }
  }
}

// Float registers hold what valf put there until a template that uses one
// as scratch overwrites it; pshf reads them.  Followed in straight-line code,
// like the result register: a label forgets everything.
void Checker::check_float_scratch(const OpcodeRow& row) {
  Op k = kind_;
  if (!float_set_ && k != Op::valf) return;  // nothing to follow yet
  if (k == Op::ntr) float_set_ = float_gone_ = 0;
  auto freg = [](const Field& f) -> int {
    std::string_view t = f.sv();
    if (t.empty()) return -1;
    if (t[0] == '$') {
      MipsReg m = mips_reg(t);
      return m.kind == MipsReg::fpr && m.n < 32 ? static_cast<int>(m.n) : -1;
    }
    RegForm r = reg_form(t);
    return r.kind == RegForm::flt && r.clean && r.n >= 0 && r.n < 32 ? static_cast<int>(r.n) : -1;
  };
  if (k == Op::pshf) {
    int n = freg(st_.p1);
    if (n >= 0 && (float_gone_ >> n & 1)) {
      Diag* d = report(Severity::error, float_register, col_of(st_.p1),
                       quoted(st_.p1.sv()) + " is read here, but an earlier line's template used $f" +
                           std::to_string(n) + " as scratch after valf set it: pshf pushes that line's value");
      note(d, float_site_[static_cast<std::size_t>(n)], "$f" + std::to_string(n) + " is overwritten here");
    }
  }
  uint32_t m = float_scratch_[static_cast<std::size_t>(&row - opcode_table)] & float_set_;
  for (int n = 0; m; n++, m >>= 1)
    if ((m & 1) && !(float_gone_ >> n & 1)) {
      float_gone_ |= 1u << n;
      float_site_[static_cast<std::size_t>(n)] = site(col_of(st_.opcode));
    }
  if (k == Op::valf) {
    int n = freg(st_.p2);
    if (n >= 0) {
      float_set_ |= 1u << n;
      float_gone_ &= ~(1u << n);
    }
  }
}

// How the template's own use of register n meets the operand `f`: the line
// is translated with $9 in the operand's place, and the instructions that
// write n are held against those that read or write the operand.
Checker::Clash Checker::clash(const OpcodeRow& row, const Field& f, long long n) {
  std::size_t at = static_cast<std::size_t>(f.p - st_.line.b);
  if (at > piece_.size()) return {};
  std::string text(piece_.substr(0, at));
  text += "$9";
  text += piece_.substr(std::min(piece_.size(), at + f.n));
  std::vector<Ins> list = instructions(render_text(row, text));
  int last_read = -1, last_set = -1;
  for (int i = 0; i < static_cast<int>(list.size()); i++) {
    if (has(list[static_cast<std::size_t>(i)].reads, 9)) last_read = i;
    if (has(list[static_cast<std::size_t>(i)].writes, 9)) last_set = i;
  }
  Clash c;
  for (int i = 0; i < static_cast<int>(list.size()); i++) {
    if (!has(list[static_cast<std::size_t>(i)].writes, n)) continue;
    if (i < last_read) {
      c = {Clash::read_after, list[static_cast<std::size_t>(i)].text};
      break;
    }
    if (last_set >= 0 && i > last_set) c = {Clash::lost_after, list[static_cast<std::size_t>(i)].text};
  }
  // Shown as the line really translates: the operand back in $9's place.
  for (std::size_t k = c.ins.find("$9"); k != std::string::npos; k = c.ins.find("$9", k + f.n))
    if (k + 2 == c.ins.size() || c.ins[k + 2] < '0' || c.ins[k + 2] > '9') c.ins.replace(k, 2, f.sv());
  return c;
}

// The first instruction line of the translation that holds `needle`.
std::string Checker::rendered_line(const OpcodeRow& row, std::string_view needle) {
  std::string all = render(row);
  std::size_t at = 0;
  while (at < all.size()) {
    std::size_t nl = all.find('\n', at);
    if (nl == std::string::npos) nl = all.size();
    std::string_view l(all.data() + at, nl - at);
    at = nl + 1;
    std::size_t s = l.find_first_not_of(" \t");
    if (s == std::string_view::npos || l[s] == '#') continue;
    std::size_t c = l.find('#');
    std::string_view ins = l.substr(0, c);
    if (ins.find(needle) == std::string_view::npos) continue;
    // A label at the start stays; tabs become single blanks.
    std::string o;
    for (char ch : ins) {
      if (ch == '\t' || ch == ' ') {
        if (!o.empty() && o.back() != ' ') o += ' ';
      } else {
        o += ch;
      }
    }
    while (!o.empty() && o.back() == ' ') o.pop_back();
    return o;
  }
  return std::string();
}

bool Checker::check_register(const Field& f, const OpcodeRow& row, const char* need) {
  std::string_view t = f.sv();
  uint32_t col = col_of(f);
  RegForm r = reg_form(t);
  if (r.kind == RegForm::general) {
    if (!r.clean) {
      std::string m = quoted(t) + " is not a register name, but the translator takes it as one: it becomes " + becomes(r);
      if (r.n < 0 || r.n > 31) m += ", which SPIM rejects";
      report(Severity::error, operand_kind, col, m);
      return false;
    }
    if (r.n > 31) {
      report(Severity::error, register_range, col,
             quoted(t) + " becomes " + becomes(r) + ", which is not a MIPS register; SPIM rejects the line (use r0 to r13)");
      return false;
    }
    if (r.n > 22) {
      report(Severity::error, register_range, col,
             quoted(t) + " becomes " + becomes(r) + " (" + std::string(mips_name(r.n)) + "), " + what_register(r.n) +
                 "; the general registers are r0 to r13");
      return false;
    }
    return true;
  }
  if (r.kind == RegForm::result) {
    if (!r.clean) {
      report(Severity::error, operand_kind, col, quoted(t) + " is taken as the result register: it becomes $v0");
      return false;
    }
    return true;
  }
  if (r.kind == RegForm::flt) {
    std::string ins = rendered_line(row, becomes(r));
    std::string m = "float register " + quoted(t) + " where " + need + " is needed";
    if (!ins.empty()) m += ": SPIM rejects " + quoted(ins);
    report(Severity::error, float_register, col, m);
    return false;
  }
  if (t[0] == '$') return check_mips_register(f, row, need);
  long long v = 0;
  int pos = position(f);
  if (pos >= 0 && (row.sig.immediate >> pos & 1) && int_literal(t, &v)) return check_immediate(f, row, v);
  std::string m;
  if (int_literal(t))
    m = "a number, " + quoted(t) + ", where " + need + " is needed";
  else
    m = quoted(t) + " where " + need + " is needed (r0 to r13, or rr)";
  report(Severity::error, operand_kind, col, m);
  return false;
}

// A number wider than a word, which SPIM cuts without a word: reported.
bool Checker::too_wide(const Field& f, long long v, const char* room) {
  if (v <= 0xffffffffLL && v >= -0x80000000LL) return false;
  report(Severity::error, operand_kind, col_of(f),
         quoted(f.sv()) + " does not fit in " + room + ": SPIM keeps only its low 32 bits, without a word");
  return true;
}

// A number where the instruction the template writes has an immediate form:
// SPIM takes any 32-bit value, but two of them do not compute what the line
// says.
bool Checker::check_immediate(const Field& f, const OpcodeRow& row, long long v) {
  uint32_t col = col_of(f);
  std::string_view t = f.sv();
  if (too_wide(f, v, "32 bits")) return false;
  // Only two values can go wrong; the line is translated just for them.
  long long word = v & 0xffffffffLL;
  if (word != 0 && word != 0x7fffffffLL) return true;
  std::string ins = rendered_line(row, t);
  std::string_view mnemonic = std::string_view(ins).substr(0, ins.find(' '));
  if ((mnemonic == "div" || mnemonic == "rem") && word == 0) {
    report(Severity::error, operand_kind, col,
           "division by the constant " + std::string(t) + ": SPIM reports it when it loads " + quoted(ins) +
               " and the line computes nothing");
    return false;
  }
  // ble and bgt compare with the number plus one, which wraps for the
  // largest positive word.
  if ((mnemonic == "ble" || mnemonic == "bgt") && word == 0x7fffffffLL) {
    report(Severity::error, operand_kind, col,
           quoted(t) + " is the largest word: SPIM compares with it plus one in " + quoted(ins) +
               ", which wraps, and the result is wrong");
    return false;
  }
  return true;
}

int Checker::position(const Field& f) const {
  const Field* fs[4] = {&st_.p1, &st_.p2, &st_.p3, &st_.p4};
  for (int i = 0; i < 4; i++)
    if (fs[i] == &f) return i;
  return -1;
}

// A MIPS register written as SPIM reads it ("$10", "$t0"), which the mapping
// leaves alone.  $9..$22 are r0..r13 and $v0 is rr; the others work where
// the template does not use them itself.
bool Checker::check_mips_register(const Field& f, const OpcodeRow& row, const char* need) {
  std::string_view t = f.sv();
  uint32_t col = col_of(f);
  MipsReg m = mips_reg(t);
  if (m.kind == MipsReg::fpr) {
    report(Severity::error, float_register, col, "float register " + quoted(t) + " where " + need + " is needed");
    return false;
  }
  if (m.kind == MipsReg::none) {
    report(Severity::error, operand_kind, col,
           quoted(t) + " is not a MIPS register where " + need + " is needed: SPIM rejects the line");
    return false;
  }
  int pos = position(f);
  bool written = pos >= 0 && (row.sig.writes >> pos & 1);
  bool read = pos < 0 || !(row.sig.write_only >> pos & 1);
  std::string name = quoted(t) + (t.substr(1) == mips_name(m.n).substr(1) ? std::string()
                                                                               : " (" + std::string(mips_name(m.n)) + ")");
  if (m.n == 1) {
    report(Severity::error, operand_kind, col, name + " is reserved for the assembler: SPIM rejects the line");
    return false;
  }
  if (m.n == 26 || m.n == 27) {
    report(Severity::error, register_range, col, name + " belongs to the exception handler and may change at any moment");
    return false;
  }
  if (written && m.n == 0) {
    report(Severity::warning, operand_kind, col, name + " always reads as 0: what the line writes there is lost");
  } else if (written && m.n >= 29) {
    report(Severity::warning, operand_kind, col,
           "the line writes " + name + ", " + what_register(m.n) + ", which the templates rely on");
  }
  if (pos < 0 || (m.n >= 9 && m.n <= 22)) return true;
  Clash c = clash(row, f, m.n);
  if (c.kind == Clash::read_after && read) {
    report(Severity::error, operand_kind, col,
           "the template overwrites " + name + " in " + quoted(c.ins) + " before it reads the operand");
    return false;
  }
  if (c.kind == Clash::lost_after && written) {
    report(Severity::error, operand_kind, col,
           "the template overwrites " + name + " in " + quoted(c.ins) + " after it puts the result there: the result is lost");
    return false;
  }
  return true;
}

void Checker::check_number(const Field& f, const OpcodeRow& row, const char* need, long long* v) {
  std::string_view t = f.sv();
  uint32_t col = col_of(f);
  if (int_literal(t, v)) return;
  if (v) *v = 0;
  RegForm r = reg_form(t);
  if (r.kind == RegForm::flt) {
    std::string ins = rendered_line(row, becomes(r));
    report(Severity::error, float_register, col,
           "float register " + quoted(t) + " where " + need + " is needed" + (ins.empty() ? "" : ": SPIM rejects " + quoted(ins)));
  } else if (r.kind != RegForm::none) {
    std::string m = "register " + quoted(t) + " where " + need + " is needed";
    std::string ins = rendered_line(row, ", " + becomes(r));
    if (!ins.empty() && ins.find(becomes(r)) != std::string::npos) m += ": SPIM rejects " + quoted(ins);
    report(Severity::error, operand_kind, col, m);
  } else if (identifier(t)) {
    report(Severity::error, operand_kind, col, "label " + quoted(t) + " where " + need + " is needed");
  } else {
    report(Severity::error, operand_kind, col, quoted(t) + " is not " + need + " that SPIM accepts");
  }
}

void Checker::check_arg(Arg a, const Field& f, const OpcodeRow& row) {
  std::string_view t = f.sv();
  uint32_t col = col_of(f);
  long long v = 0;
  switch (a) {
    case Arg::reg:
      check_register(f, row, "a general register");
      return;
    case Arg::freg: {
      if (t[0] == '$') {
        MipsReg m = mips_reg(t);
        if (m.kind == MipsReg::fpr && m.n <= 31) return;
        if (m.kind == MipsReg::fpr)
          report(Severity::error, register_range, col, quoted(t) + " is not a float register: SPIM rejects the line");
        else if (m.kind == MipsReg::gpr)
          report(Severity::error, operand_kind, col,
                 "general register " + quoted(t) + " where a float register is needed: SPIM takes it as $f" +
                     std::to_string(m.n));
        else
          report(Severity::error, operand_kind, col, quoted(t) + " is not a float register: SPIM rejects the line");
        return;
      }
      RegForm r = reg_form(t);
      if (r.kind == RegForm::flt && r.clean && r.n <= 31) return;
      if (r.kind == RegForm::flt && r.clean)
        report(Severity::error, register_range, col,
               quoted(t) + " becomes " + becomes(r) + ", which is not a float register: SPIM rejects it, or takes it as $f" +
                   std::to_string(r.n % 32));
      else if (r.kind == RegForm::flt)
        report(Severity::error, operand_kind, col, quoted(t) + " is taken as a float register: it becomes " + becomes(r));
      else {
        std::string ins = r.kind != RegForm::none ? rendered_line(row, becomes(r)) : std::string();
        std::string m = quoted(t) + " where a float register (fp0 to fp31) is needed";
        if (ins.rfind("mfc1", 0) == 0 && r.kind == RegForm::general)
          m += ": SPIM takes " + quoted(ins) + " as reading $f" + std::to_string(r.n % 32) + ", not " + quoted(t);
        else if (!ins.empty())
          m += ": SPIM rejects " + quoted(ins);
        report(Severity::error, operand_kind, col, m);
      }
      return;
    }
    case Arg::num:
    case Arg::nreg:
      check_number(f, row, "a number", &v);
      return;
    case Arg::dist:
    case Arg::delta: {
      // Below these the walk along the static links never ends.
      bool dist = a == Arg::dist;
      if (int_literal(t, &v) && v < (dist ? -1 : 0)) {
        report(Severity::error, operand_kind, col,
               dist ? "display distance " + std::string(t) + " is below -1: the call's walk along the static links never ends"
                    : "static-link distance " + std::string(t) + " is below 0: the walk in _var_ never ends");
        return;
      }
      check_number(f, row, dist ? "a display distance" : "a static-link distance", &v);
      return;
    }
    case Arg::words:
      check_number(f, row, "a number of words", &v);
      if (int_literal(t, &v) && v > 1000)
        report(Severity::error, heap_size, col,
               "the main object takes " + std::string(t) +
                   " words, more than the whole heap of 1000; it overwrites the stack below it");
      return;
    case Arg::label:
    case Arg::def: {
      // A class table's words may be numbers (a root class's superclass 0,
      // an empty method slot): SPIM takes ".word 0".
      int pos = position(f);
      long long v;
      if (pos >= 0 && (row.sig.immediate >> pos & 1) && int_literal(t, &v)) {
        too_wide(f, v, "a word");
        return;
      }
      if (label_name(t)) {
        Op k = kind_;
        if (k == Op::bra || k == Op::brf) {
          LabelInfo& l = prog_.labels[static_cast<std::size_t>(prog_.id(t))];
          if (!l.branch.set()) l.branch = site(col);
        }
        return;
      }
      if (int_literal(t))
        report(Severity::error, operand_kind, col, "a number, " + quoted(t) + ", where a label is needed");
      else if (mips_reg(t).kind != MipsReg::none)
        report(Severity::error, operand_kind, col, "register " + quoted(t) + " where a label is needed: SPIM rejects the line");
      else if (spim_word(t))
        report(Severity::error, reserved_label, col, quoted(t) + " is an instruction or directive name in SPIM and cannot be a label");
      else
        report(Severity::error, operand_kind, col, quoted(t) + " is not a name SPIM takes as a label");
      return;
    }
    case Arg::value: {
      // cst never maps its first operand: "r5" or "fp2" there is a label
      // (the report of a label defined nowhere says so).
      long long v;
      if (!cst_loads_address(t) && int_literal(t, &v) && too_wide(f, v, "32 bits")) return;
      if (cst_loads_address(t)) {
        if (int_literal(t) || (identifier(t) && !spim_word(t))) return;
      } else if (int_literal(t)) {
        return;
      }
      std::string ins = rendered_line(row, t);
      report(Severity::error, operand_kind, col,
             quoted(t) + " is neither a number nor a label that SPIM accepts" + (ins.empty() ? "" : ": SPIM rejects " + quoted(ins)));
      return;
    }
    case Arg::flit:
      if (float_literal(t)) return;
      report(Severity::error, operand_kind, col,
             "float literal " + quoted(t) + " is not one SPIM accepts in 'li.s' (it needs digits, a decimal point, and "
             "an exponent, if any, with a lower-case e, as in 2.5, 3.0 or 1.5e3)");
      return;
    case Arg::word:
      // Written into a string literal: a quote ends it, and SPIM rejects or
      // mis-reads a backslash before a digit.
      if (t.find('"') != std::string_view::npos) {
        report(Severity::error, string_literal, col,
               "a double quote in " + quoted(t) + ", which the translator writes into a string: SPIM rejects the line");
        return;
      }
      for (std::size_t k = 0; k + 1 < t.size(); k++)
        if (t[k] == '\\' && octal_trouble(t.substr(k + 1))) {
          report(Severity::error, string_literal, col + static_cast<uint32_t>(k),
                 "'\\" + std::string(1, t[k + 1]) + "' in " + quoted(t) +
                     ", which the translator writes into a string: SPIM rejects or mis-reads this octal escape");
          return;
        }
      return;
    case Arg::ret:
      return;
    case Arg::callee: {
      RegForm r = reg_form(t);
      if (r.kind != RegForm::none || mips_reg(t).kind != MipsReg::none) {
        check_register(f, row, "a register holding the procedure's address");
        return;
      }
      if (identifier(t) && !spim_word(t)) return;
      report(Severity::error, operand_kind, col, quoted(t) + " where a register holding the procedure's address is needed");
      return;
    }
  }
}

// Operand kinds that the mapping turns into a register the line reads.
static bool register_arg(Arg a) { return a == Arg::reg || a == Arg::ret || a == Arg::callee; }

void Checker::check_result(const OpcodeRow& row) {
  Op k = kind_;
  const Sig& e = row.sig;
  const Field* f[4] = {&st_.p1, &st_.p2, &st_.p3, &st_.p4};
  // The operands that read as rr: rr in any mix of case, and anything up to
  // four characters after it.
  unsigned rr = 0;
  for (int i = 0; i < e.n; i++) {
    const Field& x = *f[i];
    if (x.n >= 2 && x.n <= 4 && (x.p[0] | 0x20) == 'r' && (x.p[1] | 0x20) == 'r') rr |= 1u << i;
  }
  if (k == Op::gbln && (rr & 1)) {
    report(Severity::error, result_register, col_of(st_.p1),
           "gbln into rr: its template makes system calls through $v0 after setting the value, so the value read is lost");
  }
  if (rr_ == rr_clobbered) {
    for (unsigned m = rr & ~static_cast<unsigned>(e.write_only); m; m &= m - 1) {
      int i = __builtin_ctz(m);
      if (!register_arg(e.arg[i])) continue;
      Diag* d = report(Severity::warning, result_register, col_of(*f[i]),
                       "rr is read here, but the result of the last call is gone: an earlier line loaded $v0 for a system call");
      note(d, rr_site_, "$v0 is overwritten here");
      break;
    }
  }
  if (k == Op::cal) {
    rr_ = rr_result;
    return;
  }
  bool writes_rr = rr & e.writes;
  for (int i = 0; i < 4 && !writes_rr; i++)
    if ((e.writes >> i & 1) && f[i]->at(0) == '$' && reg_index(*f[i]) == FlowIns::kRR) writes_rr = true;
  if (writes_rr) {
    rr_ = rr_unknown;
  } else if (e.uses_v0) {
    rr_ = rr_clobbered;
    rr_site_ = site(col_of(st_.opcode));
  }
}

}  // namespace qv::check
