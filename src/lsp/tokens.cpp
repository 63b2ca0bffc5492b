#include "lsp/tokens.h"

#include <algorithm>

#include "check/check.h"
#include "check/forms.h"

namespace qv::lsp {

namespace {

enum Type : uint32_t { kKeyword, kLabel, kVariable, kNumber, kString, kComment, kMacro };
constexpr uint32_t kDeclaration = 1;

struct Span {
  uint32_t from, to, type, mods;
};

bool is_register(std::string_view t) {
  return check::reg_form(t).kind != check::RegForm::none || check::mips_reg(t).kind != check::MipsReg::none;
}

}  // namespace

const std::vector<std::string>& token_types() {
  static const std::vector<std::string> t = {"keyword", "label", "variable", "number", "string", "comment", "macro"};
  return t;
}

const std::vector<std::string>& token_modifiers() {
  static const std::vector<std::string> m = {"declaration"};
  return m;
}

std::vector<uint32_t> semantic_tokens(const Analysis& a, uint32_t file, const Text& text) {
  std::vector<uint32_t> data;
  if (file >= a.files.size()) return data;
  const std::string& s = text.str();
  std::vector<Span> spans;
  uint32_t marked_line = UINT32_MAX;  // a line marker's line, whole
  for (uint32_t k = a.files[file].first_piece; k < a.files[file].end_piece; k++) {
    const Piece& p = a.pieces[k];
    if (p.line == marked_line) continue;
    if (p.start == text.line_start(p.line)) {
      uint32_t n;
      std::string name;
      bool has_file;
      if (check::line_marker(text.line(p.line), n, name, has_file)) {
        uint32_t from = text.line_start(p.line) + static_cast<uint32_t>(text.line(p.line).find('/'));
        spans.push_back({from, text.line_end(p.line), kMacro, 0});
        marked_line = p.line;
        continue;
      }
    }
    if (p.label.len) spans.push_back({p.label.off, p.label.end(), kLabel, kDeclaration});
    if (p.tok[0].len && p.row) spans.push_back({p.tok[0].off, p.tok[0].end(), kKeyword, 0});
    for (int i = 1; i < p.ntok; i++) {
      const Tok& t = p.tok[i];
      if (!t.len) continue;
      std::string_view w = std::string_view(s).substr(t.off, t.len);
      if (p.label_ops >> (i - 1) & 1)
        spans.push_back({t.off, t.end(), kLabel, (p.def_ops >> (i - 1) & 1) ? kDeclaration : 0});
      else if (is_register(w))
        spans.push_back({t.off, t.end(), kVariable, 0});
      else if (check::int_literal(w) || check::float_literal(w))
        spans.push_back({t.off, t.end(), kNumber, 0});
    }
    if (p.literal.len || (p.literal.off && s[p.literal.off - 1] == '"' && s[p.literal.off] == '"'))
      spans.push_back({p.literal.off - 1, p.literal.end() + 1, kString, 0});
    if (p.code_end + 1 < s.size() && s[p.code_end] == '/' && s[p.code_end + 1] == '/' &&
        p.code_end < p.start + p.len)
      spans.push_back({p.code_end, text.line_end(p.line), kComment, 0});
  }
  // In order, none inside another (an operand the tokenizer found inside a
  // literal or a comment is the literal's or the comment's).
  std::stable_sort(spans.begin(), spans.end(), [](const Span& x, const Span& y) { return x.from < y.from; });
  uint32_t last_line = 0, last_col = 0, covered = 0;
  for (const Span& sp : spans) {
    if (sp.from < covered || sp.to <= sp.from) continue;
    covered = sp.to;
    Pos a0 = text.pos(sp.from), b0 = text.pos(sp.to);
    if (b0.line != a0.line || b0.col <= a0.col) continue;
    data.push_back(a0.line - last_line);
    data.push_back(a0.line == last_line ? a0.col - last_col : a0.col);
    data.push_back(b0.col - a0.col);
    data.push_back(sp.type);
    data.push_back(sp.mods);
    last_line = a0.line;
    last_col = a0.col;
  }
  return data;
}

}  // namespace qv::lsp
