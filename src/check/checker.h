// The checker's shared state: one Checker object reads the program line by
// line, as the translator does, and each family of rules adds its checks
// through it.  The families live in files of their own:
//
//   lines.cpp      the line loop, cut lines, bytes outside plain text
//   operands.cpp   operand counts and kinds, registers, the result register
//   labels.cpp     label definitions and uses, undefined labels at the end
//   literals.cpp   string literals (str) and the words dbg writes into one
//   tables.cpp     class tables (cls, mth) and the program's end line
//   procedures.cpp what each line means to the data-flow pass (flow.cpp)
//
// Everything the families share is a member here, so nothing hides in a
// file of its own.
#pragma once

#include <array>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "check/check.h"
#include "check/forms.h"
#include "check/program.h"
#include "dispatch/jump_table.h"
#include "emit/out.h"
#include "input/line_reader.h"
#include "state.h"

namespace qv::check {

// Labels the generated program defines itself, and those of them that are
// in its data block.
extern const std::string_view kFixedLabels[17];
extern const std::string_view kFixedData[9];

// The number N of "_ML" and N written as the translator writes its own
// internal labels (no leading zero), or -1.
long long internal_label(std::string_view s);

// The opcodes the checker treats apart from the rest.
enum class Op : uint8_t { other, ntr, rtn, cal, str, cls, mth, end, bra, brf, psh, pshf, cst, mov, alc, gbln, valf };
Op op_kind(std::string_view m);

// After a backslash: digits that SPIM reads wrongly.
bool octal_trouble(std::string_view after);

// Why a register the mapping gives ($23 and up) breaks the program.
const char* what_register(long long n);

// The data-flow pass's number for a general register operand (0..13, or
// FlowIns::kRR for rr), or FlowIns::kNone.
uint8_t reg_index_any(const Field& f);
inline uint8_t reg_index(const Field& f) {
  if (f.n == 2 && f.p[0] == 'r' && f.p[1] >= '0' && f.p[1] <= '9') return static_cast<uint8_t>(f.p[1] - '0');
  if (f.n == 3 && f.p[0] == 'r' && f.p[1] == '1' && f.p[2] >= '0' && f.p[2] <= '3')
    return static_cast<uint8_t>(10 + f.p[2] - '0');
  return reg_index_any(f);
}

// A name SPIM takes as a label where the translator writes the operand as
// it stands (every label operand but cal's, which is mapped).
bool label_name(std::string_view t);
// cal's callee is mapped: a name the mapping takes as a register is one.
bool callee_label(std::string_view t);

class Checker {
 public:
  // The writers only ever hold one line's translation (see render).
  Checker(Program& prog)
      : prog_(prog), out_(&sink_, 4096), err_(&sink_, 4096), trace_(&trace_sink_, 256), st_(out_, err_) {
    for (std::size_t i = 0; i < kinds_.size(); i++) kinds_[i] = op_kind(opcode_table[i].mnemonic);
    for (std::string_view f : kFixedLabels) fix(f);
    for (std::string_view f : kFixedData) prog_.labels[static_cast<std::size_t>(prog_.id(f))].data = true;
    find_float_scratch();
    for (const std::string& f : prog_.settings.reserved) fix(f);
  }

  void file(uint32_t index, LineReader& ip);
  void finish();

 private:
  void fix(std::string_view name) {
    LabelInfo& l = prog_.labels[static_cast<std::size_t>(prog_.id(name))];
    l.defined = l.fixed = true;
  }

  void piece(int len, int n);
  void end_line();
  void check_line(bool rest);
  // A first line that holds only a byte-order mark (and a comment).
  bool byte_order_mark_only(bool rest) const;
  void check_label(bool table_open);
  void check_operands(const OpcodeRow& row);
  void check_arg(Arg a, const Field& f, const OpcodeRow& row);
  bool check_register(const Field& f, const OpcodeRow& row, const char* need);
  bool check_mips_register(const Field& f, const OpcodeRow& row, const char* need);
  bool check_immediate(const Field& f, const OpcodeRow& row, long long v);
  bool too_wide(const Field& f, long long v, const char* room);
  // Which of p1..p4 `f` is, or -1.
  int position(const Field& f) const;
  // How the template's own use of a MIPS register meets an operand naming it.
  struct Clash {
    enum Kind : uint8_t { none, read_after, lost_after } kind = none;
    std::string ins;  // the template's instruction that writes the register
  };
  Clash clash(const OpcodeRow& row, const Field& f, long long n);
  void find_float_scratch();
  void check_float_scratch(const OpcodeRow& row);
  std::string render_text(const OpcodeRow& row, std::string_view text);
  // The internal labels the translator writes for the program: the
  // templates that take them, and whether one of them is _ML`n`.
  void count_internal(std::size_t row);
  bool writes_internal(uint64_t n) const;
  void internal_at_end();
  void check_number(const Field& f, const OpcodeRow& row, const char* need, long long* v);
  // What the line means beyond its operands, by family.
  void semantics(const OpcodeRow& row);
  void str_line();
  void table_line(Op k);
  void end_of_program();
  void procedure_line(const OpcodeRow& row);
  // What can only be told once the whole program is read.
  void labels_at_end();
  void procedures_at_end();
  void ends_at_end();
  void check_result(const OpcodeRow& row);
  void check_literal(const OpcodeRow& row);
  // What the translator writes for the current piece, through its own
  // dispatcher, and the bytes of it that SPIM cannot take.
  std::string render_line();
  void check_bytes(std::string_view out);

  int define(std::string_view name, uint32_t col, bool proc);
  int use(std::string_view name, uint32_t col);
  void mark_data(int id) {
    if (id >= 0 && prog_.labels[static_cast<std::size_t>(id)].def.loc.line == line_)
      prog_.labels[static_cast<std::size_t>(id)].data = true;
  }
  void mark_call(int id, uint32_t col) {
    LabelInfo& l = prog_.labels[static_cast<std::size_t>(id)];
    if (!l.call.set()) l.call = site(col);
  }
  void begin_procedure(int label, uint32_t col, int32_t locals);
  void end_procedure();
  void await_label(int id);
  void flow(FlowIns::Op op, uint8_t a = FlowIns::kNone, uint8_t b = FlowIns::kNone, int64_t x = 0,
            bool is_label = false, uint32_t col = 1);

  Loc loc(uint32_t col) const {
    Loc l;
    l.file = file_;
    l.line = line_;
    l.col = col;
    marks_.place(l);
    return l;
  }
  uint32_t col_of(const Field& f) const { return static_cast<uint32_t>(f.p - st_.line.b) + 1 + base_; }
  uint32_t col_at(int pos) const { return static_cast<uint32_t>(pos) + 1 + base_; }
  Diag* report(Severity s, int rule, uint32_t col, std::string message) {
    return prog_.report(s, rule, loc(col), std::move(message), std::string());
  }
  // A place kept for later; its line's text is read back when it is shown.
  Site site(uint32_t col) const { return {loc(col)}; }
  static void note(Diag* d, const Site& s, std::string message) {
    if (d && s.set()) d->notes.push_back({s.loc, std::move(message), std::string()});
  }
  // What the translator writes for this line, through its own handler.
  std::string render(const OpcodeRow& row);
  std::string rendered_line(const OpcodeRow& row, std::string_view needle);

  Op kind(const OpcodeRow& row) const { return kinds_[static_cast<std::size_t>(&row - opcode_table)]; }
  Op kind_ = Op::other;  // the current line's

  Program& prog_;
  std::array<Op, std::size(opcode_table)> kinds_;
  std::string sink_, trace_sink_;
  Out out_, err_;
  Out trace_;  // render_line's standard error (the float register trace), not assembly
  State st_;

  // The physical line being read.
  uint32_t file_ = 0;
  uint32_t line_ = 0;
  uint32_t base_ = 0;     // column of the piece's first character, less one
  std::string cur_;       // a cut line so far, as read
  std::string_view shown_;  // the piece without its line break
  std::string_view piece_;  // the current piece, as read (in the line buffer)
  bool cont_ = false;     // the previous piece did not end its line
  std::size_t first_diag_ = 0;
  int pieces_ = 0;
  int len_ = 0;  // what the tokenizer took of the piece

  // Where the comment, the label and the literal of the piece are, and the
  // first byte outside printable ASCII (or -1).
  int code_end_ = 0, comment_ = -1, first_quote_ = -1, last_quote_ = -1, odd_ = -1;

  // A line longer than a piece.
  struct Cut {
    bool any = false;
    bool in_comment = false;  // only a comment is cut
    bool bad = false;         // the cut splits an operand or literal, or a rest writes something
    bool word_at_cut = false; // the piece before the cut ends inside a word
    std::string what;         // what the rest does
  } cut_;

  MarkerTrack marks_;  // the line markers of the current file

  // The class table.
  Site table_closer_;
  bool closer_is_eof_ = false;
  bool closer_is_cut_ = false;  // the rest of a cut line closed it

  // Float registers in straight-line code: which valf set, which a template
  // has since overwritten (and where), and what each template overwrites.
  uint32_t float_set_ = 0, float_gone_ = 0;
  std::array<Site, 32> float_site_;
  std::array<uint32_t, std::size(opcode_table)> float_scratch_{};

  // Internal labels: how many each row's template takes from the counter
  // and which of those it defines (bit k: the k-th), read from the row's
  // translation; and, per line that takes any, where the counter stood.
  std::array<uint8_t, std::size(opcode_table)> ml_takes_{};
  std::array<uint32_t, std::size(opcode_table)> ml_defines_{};
  struct MlLine {
    uint64_t first;
    uint8_t row;
  };
  std::vector<MlLine> ml_lines_;
  uint64_t ml_next_ = 0;
  uint64_t rendered_labels_ = 0;  // what the last render took

  // The result register in straight-line code.
  enum { rr_unknown, rr_result, rr_clobbered } rr_ = rr_unknown;
  Site rr_site_;

  // The program's end lines and main constructor.
  int ends_ = 0;
  Site first_end_;
  int ctor_ = -1;
  Site ctor_site_;

  bool had_literal_ = false;  // an earlier line set the literal that str would reuse
  // That literal holds a byte outside printable text, and where it was set.
  bool literal_odd_ = false;
  Site literal_site_;

  Procedure proc_;  // the group of procedures being read
  // The lines whose meaning to the data-flow pass goes beyond their operands.
  const OpcodeRow* var_row_ = find_row("var");
  const OpcodeRow* sto_row_ = find_row("sto");
  const OpcodeRow* gstr_row_ = find_row("gstr");
};

}  // namespace qv::check
