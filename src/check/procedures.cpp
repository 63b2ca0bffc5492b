// What each line means to the data-flow pass: procedure entries, returns,
// calls, branches and labels, pushes, and what each register comes to hold.
// The pass itself is in flow.cpp.
#include <algorithm>

#include "check/checker.h"
#include "templates/handlers.h"

namespace qv::check {

void Checker::flow(FlowIns::Op op, uint8_t a, uint8_t b, int64_t x, bool is_label, uint32_t col) {
  if (op == FlowIns::kill) {
    // Registers forgotten one after the other are forgotten at once: one
    // instruction holds them all, as a mask.
    if (a > FlowIns::kRR) return;
    if (!proc_.code.empty() && proc_.code.back().op == FlowIns::kill) {
      proc_.code.back().n |= 1 << a;
      return;
    }
    FlowIns k;
    k.op = FlowIns::kill;
    k.n = 1 << a;
    proc_.code.push_back(k);
    return;
  }
  FlowIns i;
  i.op = op;
  i.a = a;
  i.b = b;
  i.x = x;
  i.is_label = is_label;
  i.loc = loc(col);
  if (op == FlowIns::label) {
    LabelInfo& l = prog_.labels[static_cast<std::size_t>(x)];
    if (l.awaited == proc_.number) {
      l.awaited = 0;
      proc_.open--;
    }
  }
  proc_.code.push_back(i);
}

// A branch to a label not yet defined keeps the group open: the code up to
// that label may belong to a procedure whose ntr is still ahead of it.
void Checker::await_label(int id) {
  LabelInfo& l = prog_.labels[static_cast<std::size_t>(id)];
  if (l.defined || l.awaited == proc_.number) return;
  l.awaited = proc_.number;
  proc_.open++;
}

void Checker::begin_procedure(int label, uint32_t col, int32_t locals) {
  flow(FlowIns::entry, FlowIns::kNone, FlowIns::kNone, label, true, col);
  proc_.code.back().n = locals;
}

void Checker::end_procedure() {
  // The end line is the one place the main object's size is read.
  long long words;
  if (op_kind(st_.opcode.sv()) == Op::end && prog_.main_words < 0 && int_literal(st_.p1.sv(), &words))
    prog_.main_words = words;
  if (!proc_.code.empty()) analyze(prog_, proc_);
  proc_.clear();
}

void Checker::procedure_line(const OpcodeRow& row) {
  Op k = kind_;
  const Field& p1 = st_.p1;
  const Field& p2 = st_.p2;
  if (k == Op::ntr) {
    // Closed before the new label is defined: a call to it from the group
    // is then a call to a procedure not read yet.
    if (proc_.open == 0) end_procedure();
    int id = -1;
    if (!p1.empty() && label_name(p1.sv())) id = define(p1.sv(), col_of(p1), true);
    long long n;
    int32_t locals = FlowIns::kNoCount;
    if (int_literal(p2.sv(), &n)) locals = static_cast<int32_t>(std::clamp<long long>(n, INT32_MIN + 1, INT32_MAX));
    begin_procedure(id, p2.empty() ? col_of(st_.opcode) : col_of(p2), locals);
    rr_ = rr_unknown;
    return;
  }
  if (k == Op::bra || k == Op::brf) {
    const Field& t = k == Op::bra ? p1 : p2;
    if (t.empty() || !label_name(t.sv())) {
      if (k == Op::brf) flow(FlowIns::kill, FlowIns::kNone);
      return;
    }
    int id = use(t.sv(), col_of(t));
    await_label(id);
    flow(k == Op::bra ? FlowIns::bra : FlowIns::brf, FlowIns::kNone, FlowIns::kNone, id, true, col_of(st_.opcode));
    return;
  }
  if (k == Op::psh || k == Op::pshf) {
    flow(FlowIns::psh, FlowIns::kNone, FlowIns::kNone, 0, false, col_of(st_.opcode));
    return;
  }
  if (k == Op::cal) {
    if (!p2.empty() && callee_label(p2.sv())) {
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
    if (c.empty() || !int_literal(c.sv(), &count) || count < 0 || count >= (1 << 24)) count = -1;
    flow(FlowIns::rtn, FlowIns::kNone, FlowIns::kNone, count, false, col_of(st_.opcode));
    proc_.code.back().n = c.empty() ? 0 : static_cast<int32_t>(col_of(c));
    return;
  }
  if (k == Op::cst) {
    uint8_t r = reg_index(p2);
    if (r == FlowIns::kNone) return;
    long long v;
    std::string_view t = p1.sv();
    if (int_literal(t, &v) && !cst_loads_address(t))
      flow(FlowIns::cst, r, FlowIns::kNone, v, false);
    else if (cst_loads_address(t) && label_name(t) && !int_literal(t))
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
  if (&row == var_row_) {
    // Displacements 1, 0 and -1 address the saved frame pointer, the return
    // address and the static link, which the rtn reads back.
    long long dist, disp;
    std::string_view d = p2.sv();
    bool link = !d.empty() && d.size() <= 3 && (d[0] == '-' || d[0] == '0' || d[0] == '1');  // quick test first
    if (link && int_literal(d, &disp) && disp >= -1 && disp <= 1 && int_literal(st_.p1.sv(), &dist) && dist >= 0) {
      flow(FlowIns::kill, FlowIns::kRR);
      flow(FlowIns::var, reg_index(st_.p3), FlowIns::kNone, disp, false, col_of(p2));
      proc_.links = true;
      return;
    }
  } else if (&row == sto_row_) {
    if (proc_.links) flow(FlowIns::sto, reg_index(p2), FlowIns::kNone, 0, false, col_of(st_.opcode));
    return;
  } else if (&row == gstr_row_) {
    // String input takes a block of 25 words from the heap, as alc does.
    flow(FlowIns::alc, FlowIns::kNone, FlowIns::kNone, 25, false, col_of(st_.opcode));
  }
  const Sig& e = row.sig;
  const Field* f[4] = {&st_.p1, &st_.p2, &st_.p3, &st_.p4};
  for (int i = 0; i < 4; i++)
    if (e.writes >> i & 1) flow(FlowIns::kill, reg_index(*f[i]));
  if (e.uses_v0) flow(FlowIns::kill, FlowIns::kRR);
}

void Checker::procedures_at_end() {
  ends_at_end();
  analyze_at_end(prog_);
}

}  // namespace qv::check
