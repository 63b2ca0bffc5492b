#include "check/check.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "check/operands.h"
#include "check/program.h"
#include "dispatch/jump_table.h"
#include "emit/out.h"
#include "input/lines.h"
#include "input/tokenizer.h"
#include "state.h"
#include "templates/handlers.h"

namespace qv::check {

const std::vector<std::string_view>& rule_names() {
  static const std::vector<std::string_view> names = {
      "unknown-opcode",  "line-too-long",   "operand-count",  "extra-operand",   "operand-kind",
      "register-range",  "float-register",  "duplicate-label", "undefined-label", "reserved-label",
      "pass-through",    "non-ascii",       "string-literal", "program-end",     "class-table",
      "result-register", "argument-count",  "heap-size"};
  return names;
}

int find_rule(std::string_view name) {
  const auto& n = rule_names();
  for (std::size_t i = 0; i < n.size(); i++)
    if (n[i] == name) return static_cast<int>(i);
  return -1;
}

bool line_marker(std::string_view line, uint32_t& n, std::string& file, bool& has_file) {
  std::size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) i++;
  if (line.substr(i, 7) != "//#line") return false;
  i += 7;
  if (i >= line.size() || (line[i] != ' ' && line[i] != '\t')) return false;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) i++;
  uint64_t v = 0;
  std::size_t d = i;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9' && v < 0xffffffffu) v = v * 10 + static_cast<uint64_t>(line[i++] - '0');
  if (i == d || v == 0 || v > 0xffffffffu) return false;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) i++;
  has_file = false;
  if (i < line.size() && line[i] == '"') {
    std::size_t close = line.find('"', i + 1);
    if (close == std::string_view::npos) return false;
    file = std::string(line.substr(i + 1, close - i - 1));
    has_file = true;
    i = close + 1;
  }
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n')) i++;
  if (i != line.size()) return false;
  n = static_cast<uint32_t>(v);
  return true;
}

bool MarkerTrack::see(std::string_view text, uint32_t line, std::string_view file, std::vector<std::string>& names) {
  uint32_t n;
  std::string name;
  bool has_file;
  if (!line_marker(text, n, name, has_file)) return false;
  if (!has_file) name = file_ >= 0 ? names[static_cast<std::size_t>(file_)] : std::string(file);
  auto it = std::find(names.begin(), names.end(), name);
  if (it == names.end()) it = names.insert(names.end(), name);
  file_ = static_cast<int32_t>(it - names.begin());
  n_ = n;
  at_ = line;
  return true;
}

void MarkerTrack::place(Loc& loc) const {
  if (file_ < 0) return;
  loc.src_file = file_;
  loc.src_line = n_ + (loc.line - at_ - 1);
}

namespace {

constexpr std::string_view kFixedLabels[] = {"main",  "ENDIT", "ENDIT1",  "_var_", "_var_1", "_var_2",
                                             "new_line", "blk", "str2",  "lblow", "lbhi",   "badipbl",
                                             "true",  "false", "heap",
                                             // SPIM's start-up code
                                             "__start", "__eoth"};

bool internal_label(std::string_view s) {
  if (s.size() < 4 || s.substr(0, 3) != "_ML") return false;
  for (char c : s.substr(3))
    if (c < '0' || c > '9') return false;
  return true;
}


// The opcodes the checker treats apart from the rest.
enum class Op : uint8_t { other, ntr, rtn, cal, str, cls, mth, end, bra, brf, psh, pshf, cst, mov, alc, gbln };

Op op_kind(std::string_view m) {
  static constexpr std::pair<std::string_view, Op> names[] = {
      {"ntr", Op::ntr}, {"rtn", Op::rtn}, {"cal", Op::cal}, {"str", Op::str},   {"cls", Op::cls},
      {"mth", Op::mth}, {"end", Op::end}, {"bra", Op::bra}, {"brf", Op::brf},   {"psh", Op::psh},
      {"pshf", Op::pshf}, {"cst", Op::cst}, {"mov", Op::mov}, {"alc", Op::alc}, {"gbln", Op::gbln}};
  for (const auto& [n, k] : names)
    if (n == m) return k;
  return Op::other;
}

// After a backslash: digits that SPIM reads wrongly.  It takes three octal
// digits, modulo 64, and rejects or keeps as written anything shorter.
bool octal_trouble(std::string_view after) {
  if (after.empty() || after[0] < '0' || after[0] > '9') return false;
  if (after.size() < 3) return true;
  for (int i = 0; i < 3; i++)
    if (after[i] < '0' || after[i] > '7') return true;
  int v = (after[0] - '0') * 64 + (after[1] - '0') * 8 + (after[2] - '0');
  return v >= 64;
}

// Bytes the first look at a piece stops at: the terminator, the comment's
// slash, quotes, and anything outside printable ASCII but tab and line ends.
constexpr std::array<bool, 256> make_scan() {
  std::array<bool, 256> t{};
  for (int c = 0; c < 256; c++) t[c] = c < 0x20 || c >= 0x7f;
  t['\t'] = t['\n'] = t['\r'] = false;
  t['/'] = t['"'] = true;
  return t;
}
constexpr std::array<bool, 256> kScan = make_scan();

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


uint8_t reg_index(const Field& f) {
  RegForm r = reg_form(f.sv());
  if (r.kind == RegForm::result) return FlowIns::kRR;
  if (r.kind == RegForm::general && r.n >= 9 && r.n <= 22) return static_cast<uint8_t>(r.n - 9);
  return FlowIns::kNone;
}

// A label operand the translator does not map: names that merely look like
// registers (ret, rq, fpx) are labels here; only the plain forms are not.
bool plain_label(std::string_view t) {
  if (!identifier(t) || spim_word(t)) return false;
  RegForm r = reg_form(t);
  return r.kind == RegForm::none || !r.clean;
}


class Checker {
 public:
  // The writers only ever hold one line's translation (see render).
  Checker(Program& prog) : prog_(prog), out_(&sink_, 4096), err_(&sink_, 4096), st_(out_, err_) {
    for (std::size_t i = 0; i < kinds_.size(); i++) kinds_[i] = op_kind(opcode_table[i].mnemonic);
    for (std::string_view f : kFixedLabels) fix(f);
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
  void check_label(bool table_open);
  void check_operands(const OpcodeRow& row);
  void check_arg(Arg a, const Field& f, const OpcodeRow& row);
  bool check_register(const Field& f, const OpcodeRow& row, const char* need);
  void check_number(const Field& f, const OpcodeRow& row, const char* need, long long* v);
  void semantics(const OpcodeRow& row);
  void check_result(const OpcodeRow& row);
  void check_literal(const OpcodeRow& row);
  void check_bytes();

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
  void begin_procedure(int label);
  void end_procedure();
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

  Program& prog_;
  std::array<Op, std::size(opcode_table)> kinds_;
  std::string sink_;
  Out out_, err_;
  State st_;

  // The physical line being read.
  uint32_t file_ = 0;
  uint32_t line_ = 0;
  uint32_t base_ = 0;     // column of the piece's first character, less one
  std::string cur_;       // the physical line so far, as read
  std::string_view piece_;  // the current piece, as read (in the line buffer)
  bool cont_ = false;     // the previous piece did not end its line
  std::size_t first_diag_ = 0;
  int pieces_ = 0;

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

  // The result register in straight-line code.
  enum { rr_unknown, rr_result, rr_clobbered } rr_ = rr_unknown;
  Site rr_site_;

  // The program's end lines and main constructor.
  int ends_ = 0;
  Site first_end_;
  int ctor_ = -1;
  Site ctor_site_;

  bool had_literal_ = false;  // an earlier line set the literal that str would reuse

  Procedure proc_;
  int rtn_count_ = -1;
  Site rtn_site_;
};

void Checker::file(uint32_t index, LineReader& ip) {
  file_ = index;
  line_ = 0;
  cont_ = false;
  marks_ = MarkerTrack();
  each_piece(st_, ip, [&](int len, int n) { piece(len, n); });
  if (cont_) end_line();
}

void Checker::piece(int len, int n) {
  const char* b = st_.line.b;
  piece_ = std::string_view(b, static_cast<std::size_t>(n));
  bool rest = cont_;
  if (n == 0) {
    // The end-of-file pass: a line of blanks, which closes an open class table.
    if (st_.in_data) {
      st_.in_data = 0;
      if (rest) {
        cut_.bad = true;
        cut_.what = "the rest closes the open class table";
      }
      table_closer_ = {loc(0)};
      table_closer_.loc.line = 0;
      closer_is_eof_ = true;
    }
    if (rest) end_line();
    cont_ = false;
    return;
  }
  // Where the tokenizer finds the comment and the quotes, in one look at
  // the bytes, which also notes the first byte that is not plain text.
  int end = n;
  comment_ = -1;
  first_quote_ = last_quote_ = -1;
  odd_ = -1;
  auto look = [&](int k) {  // false: the line ends here
    unsigned char c = static_cast<unsigned char>(b[k]);
    if (c == 0) {
      end = k;
      return false;
    }
    if (c == '/') {
      if (comment_ < 0 && k + 1 < n && b[k + 1] == '/' && k <= 98) comment_ = k;
    } else if (c == '"') {
      if (comment_ < 0) {
        if (first_quote_ < 0) first_quote_ = k;
        last_quote_ = k;
      }
    } else if (odd_ < 0) {
      odd_ = k;
    }
    return true;
  };
  int k = 0;
#if defined(__SSE2__)
  // Sixteen bytes at a time, as long as they lie in the buffer; most pieces
  // hold no byte to look at but their line break.
  for (; k + 16 <= n || (k < n && k + 16 <= kLinePositions + 1); k += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k));
    auto is = [&](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    // Below a blank (signed: bytes from 0x80 too), DEL, the slash, the quote;
    // not the tab, the line break or the carriage return.
    __m128i odd = _mm_or_si128(_mm_cmplt_epi8(v, _mm_set1_epi8(0x20)), is(0x7f));
    odd = _mm_andnot_si128(_mm_or_si128(_mm_or_si128(is('\t'), is('\n')), is('\r')), odd);
    uint32_t m = static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(odd, _mm_or_si128(is('/'), is('"')))));
    if (n - k < 16) m &= (1u << (n - k)) - 1;
    bool more = true;
    for (; m && more; m &= m - 1) more = look(k + __builtin_ctz(m));
    if (!more) break;
  }
#endif
  for (; k < n && end == n; k++)
    if (kScan[static_cast<unsigned char>(b[k])] && !look(k)) break;
  if (comment_ >= end) comment_ = -1;
  code_end_ = comment_ >= 0 ? comment_ : end;

  if (!rest) {
    line_++;
    base_ = 0;
    cur_.clear();
    first_diag_ = prog_.diags.all().size();
    pieces_ = 0;
    cut_ = Cut();
    if (comment_ >= 0 && b[comment_ + 2] == '#')
      marks_.see(piece_, line_, prog_.diags.file_names[file_], prog_.diags.src_names);
  } else {
    base_ = static_cast<uint32_t>(cur_.size());
  }
  pieces_++;
  std::string_view shown(piece_);
  if (!shown.empty() && shown.back() == '\n') shown.remove_prefix(0), shown.remove_suffix(1);
  if (!shown.empty() && shown.back() == '\r') shown.remove_suffix(1);
  cur_.append(shown);

  tokonize(st_, len);
  check_line(rest);

  bool ends = piece_.back() == '\n';
  if (!ends && n == LineReader::kPiece) {
    // The line goes on: the translator reads the rest as a line of its own.
    cut_.any = true;
    bool split = b[n - 1] != ' ' && b[n - 1] != '\t' && b[n - 1] != ',';
    if (comment_ >= 0) {
      if (!cut_.bad && pieces_ == 1) cut_.in_comment = true;
    } else {
      int quotes = 0;
      for (int i = 0; i < code_end_; i++) quotes += b[i] == '"';
      if (quotes % 2 == 1) {
        cut_.bad = true;
        if (cut_.what.empty()) cut_.what = "the cut falls inside a string literal";
      }
      cut_.word_at_cut = split;
    }
    cont_ = true;
  } else {
    cont_ = false;
    end_line();
  }
}

void Checker::end_line() {
  // Diagnostics of this line show the whole of it.
  auto& all = prog_.diags.all();
  for (std::size_t i = first_diag_; i < all.size(); i++) {
    Diag& d = all[i];
    if (d.loc.file == file_ && d.loc.line == line_) d.text = cur_;
    for (Note& nt : d.notes)
      if (nt.loc.file == file_ && nt.loc.line == line_) nt.text = cur_;
  }
  if (cut_.any) {
    std::size_t len = cur_.size();
    if (len == 99) {
      // Only its line break is left over, read as an empty line.
      if (cut_.bad)
        report(Severity::error, line_too_long, 100,
               "line is exactly 99 characters long: the translator reads its line break as an empty line of its "
               "own, which closes the open class table");
    } else {
      std::string m = "line is " + std::to_string(len) +
                      " characters long: the translator reads 99 at a time and takes the rest (from column 100) as "
                      "a line of its own";
      if (cut_.bad)
        report(Severity::error, line_too_long, 100, m + "; " + cut_.what);
      else if (cut_.in_comment)
        report(Severity::warning, line_too_long, 100, m + "; only the comment is cut, and its rest writes nothing");
      else
        report(Severity::warning, line_too_long, 100, m + "; the rest writes nothing");
    }
    auto& list = prog_.diags.all();
    if (!list.empty() && list.back().loc.line == line_ && list.back().loc.file == file_) list.back().text = cur_;
  }
  cut_ = Cut();
}

void Checker::check_line(bool rest) {
  bool table_open = st_.in_data == 1;
  bool labelled = st_.found_lbl == 1;
  std::string_view op = st_.opcode.sv();

  if (rest) {
    // What the rest of a cut line does decides whether the cut matters.
    std::string_view p = piece_;
    bool starts_word = !p.empty() && p[0] != ' ' && p[0] != '\t' && p[0] != ',' && p[0] != '\n' && p[0] != '\r';
    bool translated = labelled || find_row(op) || (!op.empty() && op[0] == 'L');
    if (translated) {
      cut_.bad = true;
      cut_.what = cut_.in_comment ? "the rest of the comment is translated as " + quoted(op.empty() ? st_.lbl.sv() : op)
                                  : "the rest is translated as " + quoted(op.empty() ? st_.lbl.sv() : op);
    } else if (table_open && op != "mth") {
      cut_.bad = true;
      cut_.what = "the rest closes the open class table";
    } else if (cut_.word_at_cut && starts_word && !cut_.in_comment && cut_.what.empty()) {
      cut_.bad = true;
      cut_.what = "the cut splits a word of the instruction in two";
    }
  }

  if (odd_ >= 0) check_bytes();
  if (labelled) check_label(table_open);
  st_.found_lbl = 0;

  if (table_open && op != "mth") {
    // This line closes the class table, as the dispatcher does.
    st_.in_data = 0;
    table_closer_ = site(1);
    closer_is_eof_ = false;
  }

  if (op.empty()) return;
  if (op[0] == 'L') {
    std::string m = "the line begins with " + quoted(op) +
                    ", which the translator passes through as it stands; SPIM rejects it";
    if (!labelled) m += "; did you mean " + quoted(std::string(op) + ":") + "?";
    report(Severity::error, pass_through, col_of(st_.opcode), m);
    rr_ = rr_unknown;
    return;
  }
  const OpcodeRow* row = find_row(op);
  if (!row) {
    if (rest) return;
    std::string m = "unknown opcode " + quoted(op) + ": the translator writes nothing for this line";
    std::string low(op);
    for (char& c : low) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    int best = 3;
    std::string_view pick;
    std::size_t best_prefix = 0;
    for (const OpcodeRow& r : opcode_table) {
      std::string_view mn = r.mnemonic;
      int d = distance(low, mn);
      std::size_t pre = 0;
      while (pre < low.size() && pre < mn.size() && low[pre] == mn[pre]) pre++;
      if (d < best || (d == best && pre > best_prefix)) {
        best = d;
        pick = mn;
        best_prefix = pre;
      }
    }
    if (!pick.empty() && best <= (low.size() <= 3 ? 1 : 2)) m += "; did you mean " + quoted(pick) + "?";
    report(Severity::error, unknown_opcode, col_of(st_.opcode), m);
    return;
  }
  check_operands(*row);
  check_result(*row);
  semantics(*row);
}

void Checker::check_bytes() {
  std::string_view p = piece_;
  int n = static_cast<int>(p.size());
  auto hex = [](unsigned char c) { return Diags::escape(std::string(1, static_cast<char>(c))); };
  // Where a form feed or vertical tab still reaches the assembly: in the
  // label and in the literal (they end the tokens anywhere else).
  int label_end = -1;
  for (int k = 0; k < code_end_; k++)
    if (p[static_cast<std::size_t>(k)] == ':' && (first_quote_ < 0 || k < first_quote_)) {
      label_end = k;
      break;
    }
  for (int k = 0; k < n; k++) {
    unsigned char c = static_cast<unsigned char>(p[static_cast<std::size_t>(k)]);
    if (k >= code_end_) {
      if (c >= 0x80) {
        report(Severity::warning, Rule::non_ascii, col_at(k),
               "byte " + hex(c) + " outside ASCII in a comment (the translator drops the comment)");
        return;
      }
      continue;
    }
    if (c >= 0x80) {
      report(Severity::error, Rule::non_ascii, col_at(k),
             "byte " + hex(c) + " outside ASCII reaches the assembly; SPIM may hang on it for ever");
      return;
    }
    // Inside the quotes SPIM stores such bytes as they are; a form feed or
    // vertical tab elsewhere ends the tokens, so only the label carries it.
    bool quoted = k > first_quote_ && k < last_quote_;
    bool control = (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\v' && c != '\f') || c == 0x7f;
    bool feed = (c == '\v' || c == '\f') && k < label_end;
    if ((control && !quoted) || feed) {
      report(Severity::error, Rule::non_ascii, col_at(k),
             "control character " + hex(c) + " reaches the assembly; SPIM rejects it or ignores the rest of the line");
      return;
    }
  }
}

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
  bool gap = e < body.size();
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
  if (gap) {
    report(Severity::warning, reserved_label, col,
           "white space between the label " + quoted(name) + " and its colon; SPIM accepts it");
  }
  if (table_open) {
    Diag* d = report(Severity::error, class_table, col,
                     "label " + quoted(name) +
                         " on the line that ends a class table lands in the data segment; a branch to it runs away");
    (void)d;
  }
  define(name, col, false);
  flow(FlowIns::label, FlowIns::kNone, FlowIns::kNone, prog_.id(name), true, col);
  rr_ = rr_unknown;
}

int Checker::define(std::string_view name, uint32_t col, bool proc) {
  if (!identifier(name)) {
    report(Severity::error, reserved_label, col, quoted(name) + " is not a name SPIM takes as a label; SPIM rejects the line");
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
  if (l.fixed || internal_label(name) || prefixed) {
    report(Severity::error, reserved_label, col,
           "label " + quoted(name) + " is defined by the generated program or the start-up code around it; SPIM reports it as defined twice");
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

void Checker::check_literal(const OpcodeRow&) {
  std::string_view p = piece_;
  bool literal = first_quote_ >= 0 && last_quote_ > first_quote_;
  // A "//" between quotes starts the comment all the same.
  if (comment_ >= 0) {
    bool before = p.find('"') < static_cast<std::size_t>(comment_);
    bool after = p.find('"', static_cast<std::size_t>(comment_)) != std::string::npos;
    if (before && after) {
      report(Severity::error, string_literal, col_at(comment_),
             std::string("'//' inside the literal starts a comment: the translator cuts the line here") +
                 (literal ? "" : ", and str writes the literal of the last earlier line that had one"));
      return;
    }
  }
  if (!literal) {
    report(Severity::error, string_literal, col_of(st_.opcode),
           had_literal_ ? "str without a literal: the translator writes the literal of the last earlier line that had one"
                        : "str without a literal: the translator writes an empty string");
    return;
  }
  // Inside the quotes, as SPIM reads them: a backslash that starts no escape
  // stays and takes nothing with it, so each backslash is looked at alone;
  // a quote ends the string unless a backslash stands right before it.
  for (int k = first_quote_ + 1; k < last_quote_; k++) {
    char c = p[static_cast<std::size_t>(k)];
    if (c == '\\') {
      if (octal_trouble(p.substr(static_cast<std::size_t>(k) + 1, static_cast<std::size_t>(last_quote_ - k - 1)))) {
        report(Severity::error, string_literal, col_at(k),
               "'\\" + std::string(1, p[static_cast<std::size_t>(k) + 1]) +
                   "' in the literal: SPIM rejects or mis-reads this octal escape");
        return;
      }
      if (k + 1 == last_quote_) {
        report(Severity::error, string_literal, col_at(k),
               "the literal ends in a backslash, which escapes its closing quote: SPIM never sees the string end");
        return;
      }
      continue;
    }
    if (c == '"' && p[static_cast<std::size_t>(k) - 1] != '\\') {
      report(Severity::error, string_literal, col_at(k),
             "a double quote inside the literal ends the string early; SPIM rejects the line or cuts the string (write \\\" )");
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

void Checker::semantics(const OpcodeRow& row) {
  Op k = kind(row);
  const Field& p1 = st_.p1;
  const Field& p2 = st_.p2;
  const Field& p3 = st_.p3;
  if (first_quote_ >= 0 && last_quote_ > first_quote_ && k != Op::str) had_literal_ = true;

  if (k == Op::ntr) {
    int id = -1;
    if (!p1.empty() && plain_label(p1.sv())) id = define(p1.sv(), col_of(p1), true);
    begin_procedure(id);
    rr_ = rr_unknown;
    return;
  }
  if (k == Op::str) {
    if (!p1.empty() && plain_label(p1.sv())) mark_data(define(p1.sv(), col_of(p1), false));
    if (first_quote_ >= 0 && last_quote_ > first_quote_) had_literal_ = true;
    return;
  }
  if (k == Op::cls) {
    if (!p1.empty() && plain_label(p1.sv())) mark_data(define(p1.sv(), col_of(p1), false));
    if (!p2.empty() && plain_label(p2.sv())) use(p2.sv(), col_of(p2));
    st_.in_data = 1;
    return;
  }
  if (k == Op::mth) {
    if (!p1.empty() && plain_label(p1.sv())) use(p1.sv(), col_of(p1));
    if (!st_.in_data) {
      Diag* d = report(Severity::error, class_table, col_of(st_.opcode),
                       "mth with no class table open: its word lands in the code, and the table lacks it");
      if (d && closer_is_eof_) {
        Note n;
        n.loc.file = table_closer_.loc.file;
        n.message = "the end of this file closed the table";
        d->notes.push_back(n);
      } else {
        note(d, table_closer_, "this line closed the table (a table ends at the first line that is not mth)");
      }
    }
    return;
  }
  if (k == Op::end) {
    ends_++;
    if (ends_ > 1) {
      Diag* d = report(Severity::error, program_end, col_of(st_.opcode),
                       "a second 'end' line: SPIM reports ENDIT and ENDIT1 as defined twice");
      note(d, first_end_, "the first 'end' line is here");
    } else {
      first_end_ = site(col_of(st_.opcode));
    }
    if (!p2.empty() && plain_label(p2.sv())) use(p2.sv(), col_of(p2));
    if (!p3.empty() && plain_label(p3.sv())) {
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
                         "this rtn removes " + std::to_string(count) + " words, but an earlier rtn of the same procedure removes " +
                             std::to_string(rtn_count_) + ": no caller can push the right number for both");
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

void Checker::finish() {
  end_procedure();
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
    if (defined.size() <= 20000 && suggested++ < 20) {
      int best = static_cast<int>(l.name.size() / 3) + 1;
      if (best > 3) best = 3;
      const LabelInfo* pick = nullptr;
      for (const LabelInfo* d : defined) {
        if (d->name.size() > l.name.size() + 3 || d->name.size() + 3 < l.name.size()) continue;
        int k = distance(l.name, d->name);
        if (k < best) {
          best = k;
          pick = d;
        }
      }
      if (pick) m += "; did you mean " + quoted(pick->name) + "?";
    }
    if (Diag* d = p.report(Severity::error, undefined_label, l.use.loc, m, std::string())) (void)d;
  }
  // Calls to a string or a class table: straight to the label, SPIM cannot
  // assemble the jump; through a register that holds its address, the jump
  // lands on data.
  for (const LabelInfo& l : p.labels) {
    if (!l.data) continue;
    const std::string what = quoted(l.name) + ", a label in the data segment (a string or a class table)";
    for (const Site* at : {&l.call, &l.reg_call}) {
      if (!at->set()) continue;
      std::string m = at == &l.call ? "call to " + what +
                                          ": SPIM rejects the jump (\"Target of jump differs in high-order 4 bits\")"
                                    : "this call goes through a register that holds the address of " + what +
                                          ": the jump lands on data and the run stops there";
      if (Diag* d = p.report(Severity::error, operand_kind, at->loc, m, std::string()))
        d->notes.push_back({l.def.loc, quoted(l.name) + " is defined here", std::string()});
    }
  }
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
  if (ctor_ >= 0) {
    const LabelInfo& l = p.labels[static_cast<std::size_t>(ctor_)];
    if (l.count >= 0 && l.count != 1) {
      Diag* d = p.report(Severity::error, argument_count, ctor_site_.loc,
                         "the main constructor " + quoted(l.name) + " removes " + std::to_string(l.count) +
                             " words, but the start-up code pushes exactly one (the main object)",
                         std::string());
      if (d) d->notes.push_back({l.count_site.loc, "the rtn of " + quoted(l.name) + " is here", std::string()});
    }
  }
}

// Shows the lines of places kept for later (notes, labels used before their
// definition, calls checked at the end): reads back just those lines.  A
// source that cannot be read again (a pipe) leaves them unshown.
// A source read back line by line.
struct LineSource {
  virtual ~LineSource() = default;
  // The next line without its line break; false at the end.
  virtual bool next(std::string& line) = 0;
};

struct FileLines : LineSource {
  explicit FileLines(FILE* f) : f_(f) {}
  ~FileLines() override {
    std::free(buf_);
    if (f_) std::fclose(f_);
  }
  bool next(std::string& line) override {
    ssize_t r = ::getline(&buf_, &cap_, f_);
    if (r < 0) return false;
    line.assign(buf_, static_cast<std::size_t>(r));
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return true;
  }
  FILE* f_;
  char* buf_ = nullptr;
  std::size_t cap_ = 0;
};

struct TextLines : LineSource {
  explicit TextLines(std::string_view t) : t_(t) {}
  bool next(std::string& line) override {
    if (at_ >= t_.size()) return false;
    std::size_t nl = t_.find('\n', at_);
    if (nl == std::string_view::npos) nl = t_.size();
    line.assign(t_.substr(at_, nl - at_));
    at_ = nl + 1;
    return true;
  }
  std::string_view t_;
  std::size_t at_ = 0;
};

// Shows the lines of places kept for later (notes, labels used before their
// definition, calls checked at the end): reads back just those lines.  A
// source that cannot be read again (a pipe) leaves them unshown.
template <class Open>
void fill_texts(Diags& diags, std::size_t files, Open open_source) {
  diags.trim();
  std::vector<std::vector<std::pair<uint32_t, std::string*>>> want(files);
  for (Diag& d : diags.all()) {
    if (d.text.empty() && d.loc.line && d.loc.col && d.loc.file < files) want[d.loc.file].push_back({d.loc.line, &d.text});
    for (Note& n : d.notes)
      if (n.text.empty() && n.loc.line && n.loc.col && n.loc.file < files) want[n.loc.file].push_back({n.loc.line, &n.text});
  }
  std::string text;
  for (std::size_t f = 0; f < files; f++) {
    auto& w = want[f];
    if (w.empty()) continue;
    std::sort(w.begin(), w.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::unique_ptr<LineSource> src = open_source(f);
    if (!src) continue;
    uint32_t line = 0;
    for (std::size_t k = 0; k < w.size() && src->next(text);) {
      line++;
      if (!text.empty() && text.back() == '\r') text.pop_back();
      for (; k < w.size() && w[k].first <= line; k++)
        if (w[k].first == line) *w[k].second = text;
    }
  }
}

std::unique_ptr<LineSource> reopen(const std::string& path) {
  struct stat sb;
  if (::stat(path.c_str(), &sb) != 0 || !S_ISREG(sb.st_mode)) return nullptr;
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return nullptr;
  return std::make_unique<FileLines>(f);
}

}  // namespace

bool check_files(const std::vector<std::string>& files, const Settings& settings, Diags& diags,
                 std::string& io_error) {
  diags.file_names = files;
  Program prog(diags, settings);
  auto checker = std::make_unique<Checker>(prog);
  for (std::size_t i = 0; i < files.size(); i++) {
    int fd = ::open(files[i].c_str(), O_RDONLY);
    if (fd < 0) {
      io_error = "quorvelin-check: cannot open " + files[i] + ": " + std::strerror(errno);
      return false;
    }
    try {
      LineReader ip(fd, files[i], nullptr);
      checker->file(static_cast<uint32_t>(i), ip);
    } catch (const Fatal& e) {
      ::close(fd);
      io_error = std::string(e.what());
      if (io_error.rfind("quorvelin:", 0) == 0) io_error.replace(0, 10, "quorvelin-check:");
      return false;
    }
    ::close(fd);
  }
  checker->finish();
  fill_texts(diags, files.size(), [&](std::size_t f) { return reopen(files[f]); });
  return true;
}

void check_texts(const std::vector<std::string>& names, const std::vector<std::string>& texts,
                 const Settings& settings, Diags& diags) {
  diags.file_names = names;
  Program prog(diags, settings);
  auto checker = std::make_unique<Checker>(prog);
  for (std::size_t i = 0; i < texts.size(); i++) {
    LineReader ip(texts[i].data(), texts[i].size());
    checker->file(static_cast<uint32_t>(i), ip);
  }
  checker->finish();
  fill_texts(diags, texts.size(), [&](std::size_t f) -> std::unique_ptr<LineSource> {
    return std::make_unique<TextLines>(texts[f]);
  });
}

}  // namespace qv::check
