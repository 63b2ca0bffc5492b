// Labels: what SPIM takes as one, definitions (twice, or one the generated
// program owns), uses, and at the end the labels used and defined nowhere
// and the calls that land on data.
#include <algorithm>
#include <vector>

#include "check/checker.h"

namespace qv::check {

void Checker::check_label(bool table_open) {
  std::string_view l = st_.lbl.sv();  // through the colon
  std::size_t i = 0;
  // SPIM reads blanks, tabs, commas and carriage returns as white space.
  auto space = [](char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; };
  while (i < l.size() && space(l[i])) i++;
  std::string_view body = l.substr(i, l.size() - 1 - i);
  uint32_t col = col_at(static_cast<int>(i));
  std::size_t e = body.size();
  while (e > 0 && space(body[e - 1])) e--;
  std::string_view name = body.substr(0, e);
  if (name.find_first_of(" \t,\r") != std::string_view::npos || name.empty()) {
    std::string m = "the text before the first colon, " + quoted(l.substr(i)) + ", is taken as a label";
    if (name.empty())
      m += ", and it has no name; SPIM rejects the line";
    else
      m += "; SPIM rejects a label of more than one word";
    if (l.size() + i < 99 && name.find(' ') != std::string_view::npos) m += " (is a colon standing in an operand?)";
    report(Severity::error, reserved_label, col, m);
    return;
  }
  int id = define(name, col, false);
  // The label's nop comes before the line that closes the table, so it lands
  // in the data segment: harmless unless something branches to it.
  if (table_open && id >= 0) {
    LabelInfo& l = prog_.labels[static_cast<std::size_t>(id)];
    if (l.def.loc.line == line_ && l.def.loc.file == file_) l.data = l.after_table = true;
  }
  flow(FlowIns::label, FlowIns::kNone, FlowIns::kNone, prog_.id(name), true, col);
  rr_ = rr_unknown;
  float_set_ = float_gone_ = 0;
}

int Checker::define(std::string_view name, uint32_t col, bool proc) {
  if (!identifier(name)) {
    report(Severity::error, reserved_label, col,
           quoted(name) + " is not a name SPIM takes as a label; SPIM rejects the line");
    return -1;
  }
  if (spim_word(name)) {
    report(Severity::error, reserved_label, col,
           quoted(name) + " is an instruction or directive name in SPIM and cannot be a label; SPIM rejects the line");
    return -1;
  }
  int id = prog_.id(name);
  LabelInfo& l = prog_.labels[static_cast<std::size_t>(id)];
  bool prefixed = false;
  for (const std::string& pre : prog_.settings.reserved_prefixes)
    if (name.substr(0, pre.size()) == pre) prefixed = true;
  if (l.fixed || prefixed) {
    report(Severity::error, reserved_label, col,
           "label " + quoted(name) +
               " is defined by the generated program or the start-up code around it; SPIM reports it as defined twice");
    return id;
  }
  if (l.defined) {
    Diag* d = report(Severity::error, duplicate_label, col,
                     "label " + quoted(name) + " is defined twice; SPIM reports it and keeps the first definition");
    note(d, l.def, "the first definition of " + quoted(name) + " is here");
    return id;
  }
  l.defined = true;
  l.proc = proc;
  l.def = site(col);
  return id;
}

int Checker::use(std::string_view name, uint32_t col) {
  int id = prog_.id(name);
  LabelInfo& l = prog_.labels[static_cast<std::size_t>(id)];
  if (!l.used) {
    l.used = true;
    l.use = site(col);
  }
  l.uses++;
  return id;
}

void Checker::count_internal(std::size_t row) {
  ml_lines_.push_back({ml_next_, static_cast<uint8_t>(row)});
  ml_next_ += ml_takes_[row];
}

bool Checker::writes_internal(uint64_t n) const {
  if (n >= ml_next_) return false;
  auto it = std::upper_bound(ml_lines_.begin(), ml_lines_.end(), n,
                             [](uint64_t v, const MlLine& m) { return v < m.first; });
  if (it == ml_lines_.begin()) return false;
  --it;
  uint64_t k = n - it->first;
  return k < ml_takes_[it->row] && (ml_defines_[it->row] >> k & 1);
}

// A label named as the translator names its own (_ML and a number) is the
// program's own unless the translation of this program writes it too: only
// then is a definition a second one, and a use found.
void Checker::internal_at_end() {
  for (LabelInfo& l : prog_.labels) {
    long long n = internal_label(l.name);
    if (n < 0 || !writes_internal(static_cast<uint64_t>(n))) continue;
    if (l.defined && !l.fixed)
      prog_.report(Severity::error, reserved_label, l.def.loc,
                   "label " + quoted(l.name) + " is defined by the generated program too (one of the translator's own "
                   "labels); SPIM reports it as defined twice",
                   std::string());
    l.defined = l.fixed = true;
  }
}

void Checker::labels_at_end() {
  Program& p = prog_;
  // Labels used and defined nowhere, at their first use.
  std::vector<const LabelInfo*> defined;
  for (const LabelInfo& l : p.labels)
    if (l.defined && !l.fixed) defined.push_back(&l);
  int suggested = 0;  // "did you mean" is looked for on the first few only
  for (const LabelInfo& l : p.labels) {
    if (!l.used || l.defined) continue;
    std::string m = "label " + quoted(l.name) + " is used but defined nowhere";
    if (l.uses > 1) m += " (used " + std::to_string(l.uses) + " times)";
    m += ": SPIM reports it as undefined and stops when it is reached";
    RegForm r = reg_form(l.name);
    if (r.kind != RegForm::none && r.clean)
      m += " (this operand is never mapped, so " + quoted(l.name) +
           " here is a label, not a register)";
    if (defined.size() <= 20000 && suggested++ < 20) {
      int best = static_cast<int>(l.name.size() / 3) + 1;
      if (best > 3) best = 3;
      const LabelInfo* pick = nullptr;
      for (const LabelInfo* d : defined) {
        if (d->name.size() > l.name.size() + 3 || d->name.size() + 3 < l.name.size()) continue;
        int k = distance(l.name, d->name, best - 1);
        if (k < best) {
          best = k;
          pick = d;
        }
      }
      if (pick) m += "; did you mean " + quoted(pick->name) + "?";
    }
    if (Diag* d = p.report(Severity::error, undefined_label, l.use.loc, m, std::string())) (void)d;
  }
  // Jumps to data: a call straight to the label SPIM cannot assemble; a
  // branch, or a call through a register that holds its address, lands on
  // data and runs its words as instructions.
  for (const LabelInfo& l : p.labels) {
    if (!l.data) continue;
    const std::string what =
        quoted(l.name) + (l.after_table ? ", a label that the end of a class table left in the data segment"
                          : l.fixed ? ", a label of the generated program's data block"
                                    : ", a label in the data segment (a string or a class table)");
    if (l.branch.set()) {
      Diag* d = p.report(Severity::error, operand_kind, l.branch.loc,
                         "branch to " + what + ": the jump lands on data and runs its words as instructions",
                         std::string());
      if (d && l.def.set()) d->notes.push_back({l.def.loc, quoted(l.name) + " is defined here", std::string()});
    } else if (l.after_table) {
      p.report(Severity::warning, class_table, l.def.loc,
               "label " + quoted(l.name) +
                   " on the line that ends a class table lands in the data segment; a branch to it would run away",
               std::string());
    }
    for (const Site* at : {&l.call, &l.reg_call}) {
      if (!at->set()) continue;
      std::string m = at == &l.call ? "call to " + what +
                                          ": SPIM rejects the jump (\"Target of jump differs in high-order 4 bits\")"
                                    : "this call goes through a register that holds the address of " + what +
                                          ": the jump lands on data and the run stops there";
      Diag* d = p.report(Severity::error, operand_kind, at->loc, m, std::string());
      if (d && l.def.set()) d->notes.push_back({l.def.loc, quoted(l.name) + " is defined here", std::string()});
    }
  }
}

}  // namespace qv::check
