// Class tables (cls opens one in the data segment, mth adds a word, the
// first other line closes it) and the program's end line, which writes the
// start-up code's ENDIT and calls the main constructor.
#include "check/checker.h"

namespace qv::check {

void Checker::table_line(Op k) {
  const Field& p1 = st_.p1;
  const Field& p2 = st_.p2;
  if (k == Op::cls) {
    if (!p1.empty() && label_name(p1.sv())) mark_data(define(p1.sv(), col_of(p1), false));
    if (!p2.empty() && label_name(p2.sv())) use(p2.sv(), col_of(p2));
    st_.in_data = 1;
    return;
  }
  if (k == Op::mth) {
    if (!p1.empty() && label_name(p1.sv())) use(p1.sv(), col_of(p1));
    if (!st_.in_data) {
      Diag* d = report(Severity::error, class_table, col_of(st_.opcode),
                       "mth with no class table open: its word lands in the code, and the table lacks it");
      if (d && closer_is_eof_) {
        Note n;
        n.loc.file = table_closer_.loc.file;
        n.message = "the end of this file closed the table";
        d->notes.push_back(n);
      } else {
        note(d, table_closer_,
             closer_is_cut_ ? "the rest of this line closed the table: the translator reads 99 characters at a time "
                              "and takes what follows (here at least the line break) as a line of its own"
                            : "this line closed the table (a table ends at the first line that is not mth)");
      }
    }
    return;
  }
}

void Checker::end_of_program() {
  const Field& p2 = st_.p2;
  const Field& p3 = st_.p3;
  ends_++;
  if (ends_ > 1) {
    Diag* d = report(Severity::error, program_end, col_of(st_.opcode),
                     "a second 'end' line: SPIM reports ENDIT and ENDIT1 as defined twice");
    note(d, first_end_, "the first 'end' line is here");
  } else {
    first_end_ = site(col_of(st_.opcode));
  }
  if (!p2.empty() && label_name(p2.sv())) use(p2.sv(), col_of(p2));
  if (!p3.empty() && label_name(p3.sv())) {
    int id = use(p3.sv(), col_of(p3));
    mark_call(id, col_of(p3));
    if (ends_ == 1) {
      ctor_ = id;
      ctor_site_ = site(col_of(p3));
    }
  }
  end_procedure();
  rr_ = rr_unknown;
  return;
}

void Checker::ends_at_end() {
  Program& p = prog_;
  if (ends_ == 0) {
    Loc l;
    l.file = p.diags.file_names.empty() ? 0 : static_cast<uint32_t>(p.diags.file_names.size() - 1);
    l.line = line_ ? line_ : 0;
    l.col = 0;
    p.report(Severity::error, program_end, l,
             "the program has no 'end' line: the start-up code jumps to ENDIT, which is never defined, and SPIM "
             "stops there",
             std::string());
  }
  if (ctor_ >= 0) {
    const LabelInfo& l = p.labels[static_cast<std::size_t>(ctor_)];
    if (l.count >= 0 && l.count != 1) {
      // The constructor returns to the exit, so the words it removes matter
      // only when they carry $sp past the top of memory: the add in its rtn
      // then traps.  1000 words stay below that in any environment.
      bool traps = l.count > 1000;
      std::string m = "the main constructor " + quoted(l.name) + " removes " + std::to_string(l.count) +
                      " words, but the start-up code pushes exactly one (the main object)";
      m += traps ? ": its rtn moves $sp past the top of memory, and SPIM stops the exit with an arithmetic overflow"
                 : "; harmless, since the program exits right after, but a call to it from the program must push " +
                       std::to_string(l.count);
      Diag* d = p.report(traps ? Severity::error : Severity::warning, argument_count, ctor_site_.loc, m, std::string());
      if (d) d->notes.push_back({l.count_site.loc, "the rtn of " + quoted(l.name) + " is here", std::string()});
    }
  }
}

}  // namespace qv::check
