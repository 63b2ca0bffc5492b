// Operands: how many the template fills, and whether each is what the
// template needs, judged by what the mapping makes of it and what SPIM does
// with the instruction it lands in; and the result register.
#include <algorithm>
#include <cstring>

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


void Checker::check_operands(const OpcodeRow& row) {
  const Field* f[5] = {&st_.p1, &st_.p2, &st_.p3, &st_.p4, &st_.p5};
  std::string_view op = st_.opcode.sv();  // the mnemonic itself
  Op k = kind(row);
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
    check_arg(a, *f[i], row);
  }
  if (k == Op::str) check_literal(row);
}

std::string Checker::render(const OpcodeRow& row) {
  // A state of its own over the checker's writers, which nothing else uses.
  sink_.clear();
  State s(out_, err_);
  std::memcpy(s.line.b, piece_.data(), piece_.size());
  s.line.b[piece_.size()] = '\0';
  tokonize(s, static_cast<int>(piece_.size()));
  row.handler(s);
  out_.flush();
  err_.flush();
  std::string text;
  text.swap(sink_);
  return text;
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
  std::string m;
  if (t[0] == '$')
    m = "MIPS register " + quoted(t) + " written directly where " + need + " is needed; use r0 to r13 or rr";
  else if (int_literal(t))
    m = "a number, " + quoted(t) + ", where " + need + " is needed";
  else
    m = quoted(t) + " where " + need + " is needed (r0 to r13, or rr)";
  report(Severity::error, operand_kind, col, m);
  return false;
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
    case Arg::def:
      if (plain_label(t)) return;
      if (int_literal(t))
        report(Severity::error, operand_kind, col, "a number, " + quoted(t) + ", where a label is needed");
      else if (reg_form(t).kind != RegForm::none && reg_form(t).clean)
        report(Severity::error, operand_kind, col, "register " + quoted(t) + " where a label is needed");
      else if (spim_word(t))
        report(Severity::error, reserved_label, col, quoted(t) + " is an instruction or directive name in SPIM and cannot be a label");
      else
        report(Severity::error, operand_kind, col, quoted(t) + " is not a name SPIM takes as a label");
      return;
    case Arg::value: {
      RegForm r = reg_form(t);
      if (r.kind == RegForm::flt && r.clean) {
        report(Severity::error, float_register, col, "float register " + quoted(t) + " where a number or a label is needed");
        return;
      }
      if (r.kind != RegForm::none && r.clean) {
        report(Severity::error, operand_kind, col,
               "register " + quoted(t) + " where a number or a label is needed: the translator loads the address of a label named " + quoted(t));
        return;
      }
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
      if (r.kind != RegForm::none || t[0] == '$') {
        check_register(f, row, "a register holding the procedure's address");
        return;
      }
      if (identifier(t) && !spim_word(t)) return;
      report(Severity::error, operand_kind, col, quoted(t) + " where a register holding the procedure's address is needed");
      return;
    }
  }
}

void Checker::check_result(const OpcodeRow& row) {
  Op k = kind(row);
  const Field* f[4] = {&st_.p1, &st_.p2, &st_.p3, &st_.p4};
  // rr in any mix of case, and anything up to four characters after it.
  auto is_rr = [](const Field& x) { return x.n >= 2 && x.n <= 4 && (x.p[0] | 0x20) == 'r' && (x.p[1] | 0x20) == 'r'; };
  if (k == Op::gbln && is_rr(st_.p1)) {
    report(Severity::error, result_register, col_of(st_.p1),
           "gbln into rr: its template makes system calls through $v0 after setting the value, so the value read is lost");
  }
  if (rr_ == rr_clobbered) {
    for (int i = 0; i < row.sig.n; i++) {
      if (f[i]->empty() || (row.sig.write_only >> i & 1) || !is_rr(*f[i])) continue;
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
  const Sig& e = row.sig;
  bool writes_rr = false;
  for (int i = 0; i < 4; i++)
    if ((e.writes >> i & 1) && !f[i]->empty() && is_rr(*f[i])) writes_rr = true;
  if (writes_rr) {
    rr_ = rr_unknown;
  } else if (e.uses_v0) {
    rr_ = rr_clobbered;
    rr_site_ = site(col_of(st_.opcode));
  }
}

}  // namespace qv::check
