// What each line means to the data-flow pass: procedure entries, returns,
// calls, branches and labels, pushes, and what each register comes to hold.
// The pass itself is in flow.cpp.
#include "check/checker.h"
#include "templates/handlers.h"

namespace qv::check {

void Checker::flow(FlowIns::Op op, uint8_t a, uint8_t b, int64_t x, bool is_label, uint32_t col) {
  FlowIns i;
  i.op = op;
  i.a = a;
  i.b = b;
  i.x = x;
  i.is_label = is_label;
  i.loc = loc(col);
  proc_.code.push_back(i);
}

void Checker::begin_procedure(int label) {
  end_procedure();
  proc_.label = label;
}

void Checker::end_procedure() {
  if (!proc_.code.empty()) analyze(prog_, proc_);
  proc_.clear();
  rtn_count_ = -1;
  rtn_site_ = Site();
}

void Checker::procedure_line(const OpcodeRow& row) {
  Op k = kind(row);
  const Field& p1 = st_.p1;
  const Field& p2 = st_.p2;
  if (k == Op::ntr) {
    int id = -1;
    if (!p1.empty() && plain_label(p1.sv())) id = define(p1.sv(), col_of(p1), true);
    begin_procedure(id);
    rr_ = rr_unknown;
    return;
  }
  if (k == Op::bra || k == Op::brf) {
    const Field& t = k == Op::bra ? p1 : p2;
    if (t.empty() || !plain_label(t.sv())) {
      if (k == Op::brf) flow(FlowIns::kill, FlowIns::kNone);
      return;
    }
    int id = use(t.sv(), col_of(t));
    flow(k == Op::bra ? FlowIns::bra : FlowIns::brf, FlowIns::kNone, FlowIns::kNone, id, true, col_of(st_.opcode));
    return;
  }
  if (k == Op::psh || k == Op::pshf) {
    flow(FlowIns::psh, FlowIns::kNone, FlowIns::kNone, 0, false, col_of(st_.opcode));
    return;
  }
  if (k == Op::cal) {
    if (!p2.empty() && plain_label(p2.sv())) {
      int id = use(p2.sv(), col_of(p2));
      mark_call(id, col_of(p2));
      flow(FlowIns::cal, FlowIns::kNone, FlowIns::kNone, id, true, col_of(st_.opcode));
    } else {
      flow(FlowIns::cal, reg_index(p2), FlowIns::kNone, 0, false, col_of(st_.opcode));
    }
    return;
  }
  if (k == Op::rtn) {
    long long count = -1;
    bool reg = reg_form(p1.sv()).kind != RegForm::none || p1.at(0) == '$';
    const Field& c = reg ? p2 : p1;
    if (!c.empty() && int_literal(c.sv(), &count) && count >= 0 && count < (1 << 24)) {
      if (rtn_count_ < 0) {
        rtn_count_ = static_cast<int>(count);
        rtn_site_ = site(col_of(c));
        if (proc_.label >= 0) {
          LabelInfo& l = prog_.labels[static_cast<std::size_t>(proc_.label)];
          if (l.count < 0) {
            l.count = rtn_count_;
            l.count_site = rtn_site_;
          }
        }
      } else if (count != rtn_count_) {
        Diag* d = report(Severity::error, argument_count, col_of(c),
                         "this rtn removes " + std::to_string(count) +
                             " words, but an earlier rtn of the same procedure removes " + std::to_string(rtn_count_) +
                             ": no caller can push the right number for both");
        note(d, rtn_site_, "the earlier rtn is here");
      }
    }
    flow(FlowIns::rtn, FlowIns::kNone, FlowIns::kNone, 0, false, col_of(st_.opcode));
    return;
  }
  if (k == Op::cst) {
    uint8_t r = reg_index(p2);
    if (r == FlowIns::kNone) return;
    long long v;
    std::string_view t = p1.sv();
    if (int_literal(t, &v) && !cst_loads_address(t))
      flow(FlowIns::cst, r, FlowIns::kNone, v, false);
    else if (cst_loads_address(t) && plain_label(t) && !int_literal(t))
      flow(FlowIns::cst, r, FlowIns::kNone, use(t, col_of(p1)), true);
    else
      flow(FlowIns::kill, r);
    return;
  }
  if (k == Op::mov) {
    flow(FlowIns::mov, reg_index(p2), reg_index(p1));
    return;
  }
  if (k == Op::alc) {
    flow(FlowIns::alc, reg_index(p1), FlowIns::kNone, 0, false, col_of(p1));
    flow(FlowIns::kill, reg_index(p2));
    return;
  }
  const Sig& e = row.sig;
  const Field* f[4] = {&st_.p1, &st_.p2, &st_.p3, &st_.p4};
  for (int i = 0; i < 4; i++)
    if (e.writes >> i & 1) flow(FlowIns::kill, reg_index(*f[i]));
  if (e.uses_v0) flow(FlowIns::kill, FlowIns::kRR);
}

void Checker::procedures_at_end() {
  Program& p = prog_;
  ends_at_end();
  // Calls analysed before their callee's word count was known.
  for (const Program::Deferred& c : p.deferred) {
    const LabelInfo& l = p.labels[static_cast<std::size_t>(c.callee)];
    if (l.count < 0 || c.pushed >= l.count) continue;
    Diag* d = p.report(Severity::error, argument_count, c.at.loc,
                       "call to " + quoted(l.name) + " with " + std::to_string(c.pushed) + " word" +
                           (c.pushed == 1 ? "" : "s") + " pushed, but its rtn removes " + std::to_string(l.count),
                       std::string());
    if (d) d->notes.push_back({l.count_site.loc, "the rtn of " + quoted(l.name) + " is here", std::string()});
  }
}

}  // namespace qv::check
