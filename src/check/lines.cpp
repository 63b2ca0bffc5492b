// The line loop as the translator runs it: pieces of at most 99 characters,
// the end-of-file pass, what a cut line does, the line markers, and bytes
// outside plain text.
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bitset>
#include <cstring>

#include "check/checker.h"
#include "input/lines.h"
#include "input/tokenizer.h"

namespace qv::check {

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



namespace {

// Bytes outside printable ASCII but tab and line ends.
constexpr std::array<bool, 256> make_odd() {
  std::array<bool, 256> t{};
  for (int c = 0; c < 256; c++) t[c] = c < 0x20 || c >= 0x7f;
  t['\t'] = t['\n'] = t['\r'] = false;
  return t;
}
constexpr std::array<bool, 256> kOdd = make_odd();

// The control bytes SPIM rejects in code: all below a blank but the tab, the
// line break and the carriage return (white space to it), and DEL.
bool control(unsigned char c) { return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7f; }

// The control bytes of assembly text that SPIM reads as code: not those in
// a string literal, which it stores as they are, nor those in a comment,
// which it skips.  A character constant ('#') is neither.
std::bitset<256> control_in_code(std::string_view s) {
  std::bitset<256> found;
  bool in_string = false, in_comment = false;
  for (std::size_t i = 0; i < s.size(); i++) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '\n') {
      in_string = in_comment = false;
    } else if (in_comment) {
    } else if (in_string) {
      if (c == '\\') i++;
      else if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '#') {
      in_comment = true;
    } else if (c == '\'' && i + 2 < s.size() && s[i + 2] == '\'') {
      i += 2;
    } else if (control(c)) {
      found.set(c);
    }
  }
  return found;
}

}  // namespace

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
      table_closer_ = {loc(0)};
      table_closer_.loc.line = 0;
      closer_is_eof_ = true;
    }
    if (rest) end_line();
    cont_ = false;
    return;
  }
  // The comment, the label's colon and the quotes where the tokenizer finds
  // them; then one look at the bytes for the first that is not plain text.
  char* w = st_.line.b;
  w[n] = '\0';
  LineShape shape = line_shape(b);
  comment_ = shape.comment ? shape.end : -1;
  first_quote_ = shape.first_quote;
  last_quote_ = shape.last_quote;
  // A terminator inside the piece ends it, as it ends a C string.
  int end = shape.end;
  if (shape.comment)
    while (end < n && b[end]) end++;
  odd_ = -1;
  int k = 0;
#if defined(__SSE2__)
  // Sixteen bytes at a time, as long as they lie in the buffer; most pieces
  // hold none to look at.
  for (; k < end && k + 16 <= kLinePositions + 1; k += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k));
    auto is = [&](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    // Below a blank (signed: bytes from 0x80 too) and DEL; not the tab, the
    // line break or the carriage return.
    __m128i odd = _mm_or_si128(_mm_cmplt_epi8(v, _mm_set1_epi8(0x20)), is(0x7f));
    odd = _mm_andnot_si128(_mm_or_si128(_mm_or_si128(is('\t'), is('\n')), is('\r')), odd);
    uint32_t m = static_cast<uint32_t>(_mm_movemask_epi8(odd));
    if (end - k < 16) m &= (1u << (end - k)) - 1;
    if (m) {
      odd_ = k + __builtin_ctz(m);
      break;
    }
  }
  if (odd_ < 0)
#endif
    for (; k < end; k++)
      if (kOdd[static_cast<unsigned char>(b[k])]) {
        odd_ = k;
        break;
      }
  code_end_ = comment_ >= 0 ? comment_ : end;

  if (!rest) {
    line_++;
    base_ = 0;
    first_diag_ = prog_.diags.all().size();
    pieces_ = 0;
    if (cut_.any) cut_ = Cut();
    if (comment_ >= 0 && b[comment_ + 2] == '#')
      marks_.see(piece_, line_, prog_.diags.file_names[file_], prog_.diags.src_names);
  } else {
    base_ = static_cast<uint32_t>(cur_.size());
  }
  pieces_++;
  len_ = len;
  // The whole line is gathered only when it is cut; a line of one piece
  // (nearly all of them) is the piece.
  shown_ = piece_;
  if (!shown_.empty() && shown_.back() == '\n') shown_.remove_suffix(1);
  if (!shown_.empty() && shown_.back() == '\r') shown_.remove_suffix(1);
  if (rest) cur_.append(shown_);

  tokonize(st_, len);
  check_line(rest);

  bool ends = piece_.back() == '\n';
  if (!ends && n == LineReader::kPiece) {
    // The line goes on: the translator reads the rest as a line of its own.
    if (pieces_ == 1) cur_.assign(shown_);
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
  std::string_view whole = cut_.any ? std::string_view(cur_) : shown_;
  auto& all = prog_.diags.all();
  for (std::size_t i = first_diag_; i < all.size(); i++) {
    Diag& d = all[i];
    if (d.loc.file == file_ && d.loc.line == line_) d.text = whole;
    for (Note& nt : d.notes)
      if (nt.loc.file == file_ && nt.loc.line == line_) nt.text = whole;
  }
  // A cut matters only where the rest does something: it is translated, or
  // it splits a word or a literal.  A rest that is only the line break (a
  // line of 99 characters, or of 98 and a carriage return) or only a
  // comment's tail writes nothing; one that closes a class table is shown
  // at the mth it then leaves outside the table.
  if (cut_.any && cut_.bad) {
    report(Severity::error, line_too_long, 100,
           "line is " + std::to_string(cur_.size()) +
               " characters long: the translator reads 99 at a time and takes the rest (from column 100) as a line "
               "of its own; " +
               cut_.what);
    auto& list = prog_.diags.all();
    if (!list.empty() && list.back().loc.line == line_ && list.back().loc.file == file_) list.back().text = cur_;
  }
  if (cut_.any) cut_ = Cut();
}

bool Checker::byte_order_mark_only(bool rest) const {
  // A UTF-8 byte-order mark before a file's first line (several Windows
  // editors write one), with only blanks and a comment after it: the
  // translator takes the mark for an opcode it does not know and writes
  // nothing for the line, as for a comment.  Anything else on the line is
  // lost with the mark, and is reported as usual.
  if (rest || line_ != 1) return false;
  std::string_view code = std::string_view(piece_).substr(0, static_cast<std::size_t>(code_end_));
  while (!code.empty() && (code.back() == ' ' || code.back() == '\t' || code.back() == '\r' || code.back() == '\n'))
    code.remove_suffix(1);
  return code == "\xEF\xBB\xBF";
}

void Checker::check_line(bool rest) {
  if (byte_order_mark_only(rest)) return;
  bool table_open = st_.in_data == 1;
  bool labelled = st_.found_lbl == 1;
  std::string_view op = st_.opcode.sv();
  const OpcodeRow* row = find_row(op);

  if (rest) {
    // What the rest of a cut line does decides whether the cut matters.
    std::string_view p = piece_;
    bool starts_word = !p.empty() && p[0] != ' ' && p[0] != '\t' && p[0] != ',' && p[0] != '\n' && p[0] != '\r';
    bool translated = labelled || row || (!op.empty() && op[0] == 'L');
    if (translated) {
      cut_.bad = true;
      cut_.what = cut_.in_comment ? "the rest of the comment is translated as " + quoted(op.empty() ? st_.lbl.sv() : op)
                                  : "the rest is translated as " + quoted(op.empty() ? st_.lbl.sv() : op);
    } else if (cut_.word_at_cut && starts_word && !cut_.in_comment && cut_.what.empty()) {
      cut_.bad = true;
      cut_.what = "the cut splits a word of the instruction in two";
    }
  }

  // Whether a byte outside printable text reaches the assembly is read from
  // what the translator writes for the line.  Only lines that hold one in
  // their code are translated for this (a comment never reaches the
  // tokenizer), and str lines that write such a literal of an earlier line.
  bool literal = first_quote_ >= 0 && last_quote_ > first_quote_;
  bool odd_code = odd_ >= 0 && odd_ < code_end_;
  if (odd_code || (!literal && literal_odd_ && row && kind(*row) == Op::str)) check_bytes(render_line());
  if (literal) {
    // Every line with a literal sets the one str writes, not only str lines.
    had_literal_ = true;
    literal_odd_ = false;
    for (int k = std::max(odd_, first_quote_ + 1); odd_code && k < last_quote_; k++)
      if (kOdd[static_cast<unsigned char>(piece_[static_cast<std::size_t>(k)])]) {
        literal_odd_ = true;
        literal_site_ = site(col_at(k));
        break;
      }
  }
  if (labelled) check_label(table_open);
  st_.found_lbl = 0;

  if (table_open && op != "mth") {
    // This line closes the class table, as the dispatcher does.
    st_.in_data = 0;
    table_closer_ = site(rest ? col_at(0) : 1);
    closer_is_eof_ = false;
    closer_is_cut_ = rest;
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
  if (!row) {
    if (rest) return;
    std::string m = "unknown opcode " + quoted(op) + ": the translator writes " +
                    (labelled ? "only the label" : "nothing") + " for this line";
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
  auto index = static_cast<std::size_t>(row - opcode_table);
  kind_ = kinds_[index];
  if (ml_takes_[index]) count_internal(index);
  check_operands(*row);
  check_result(*row);
  check_float_scratch(*row);
  semantics(*row);
}

std::string Checker::render_line() {
  // A state of its own, so that the check's state is left as it is.  What
  // the translator writes for a line depends on earlier lines only through
  // the literal that str takes (which comes along), the class table (whose
  // closing writes ".text") and the counter of internal labels (digits).
  sink_.clear();
  State s(out_, trace_);
  std::memcpy(s.line.b, st_.line.b, sizeof s.line.b);
  s.strL.set(st_.strL.s, st_.strL.n);
  tokonize(s, len_);
  jump_table(s);
  out_.flush();
  trace_.flush();
  trace_sink_.clear();
  std::string out;
  out.swap(sink_);
  return out;
}

void Checker::check_bytes(std::string_view out) {
  std::bitset<256> high, code_control = control_in_code(out);
  for (char c : out)
    if (static_cast<unsigned char>(c) >= 0x80) high.set(static_cast<unsigned char>(c));
  if (high.none() && code_control.none()) return;
  auto hex = [](unsigned char c) { return Diags::escape(std::string(1, static_cast<char>(c))); };
  // Shown at the first byte of the line's code that the translation holds;
  // none when str writes the literal of an earlier line.
  auto first = [&](const std::bitset<256>& set) {
    for (int k = 0; k < code_end_; k++)
      if (set[static_cast<unsigned char>(piece_[static_cast<std::size_t>(k)])]) return k;
    return -1;
  };
  auto lowest = [](const std::bitset<256>& set) {
    int c = 0;
    while (!set[static_cast<std::size_t>(c)]) c++;
    return static_cast<unsigned char>(c);
  };
  if (high.any()) {
    int k = first(high);
    unsigned char c = k >= 0 ? static_cast<unsigned char>(piece_[static_cast<std::size_t>(k)]) : lowest(high);
    Diag* d = report(Severity::error, Rule::non_ascii, k >= 0 ? col_at(k) : col_of(st_.opcode),
                     "byte " + hex(c) + " outside ASCII reaches the assembly" +
                         (k >= 0 ? "" : " (str writes the literal of an earlier line)") +
                         "; SPIM may hang on it for ever");
    if (k < 0) note(d, literal_site_, "the literal is set here");
  }
  if (code_control.any()) {
    int k = first(code_control);
    unsigned char c =
        k >= 0 ? static_cast<unsigned char>(piece_[static_cast<std::size_t>(k)]) : lowest(code_control);
    Diag* d = report(Severity::error, Rule::non_ascii, k >= 0 ? col_at(k) : col_of(st_.opcode),
                     "control character " + hex(c) + " reaches the assembly" +
                         (k >= 0 ? "" : " (str writes the literal of an earlier line)") +
                         "; SPIM rejects it or ignores the rest of the line");
    if (k < 0) note(d, literal_site_, "the literal is set here");
  }
}

}  // namespace qv::check
