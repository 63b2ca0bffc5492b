#include "lsp/analysis.h"

#include <algorithm>
#include <cstring>

#include "check/forms.h"
#include "emit/frame.h"
#include "input/line_reader.h"
#include "input/lines.h"
#include "input/tokenizer.h"
#include "state.h"
#include "templates/handlers.h"

namespace qv::lsp {

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

// Whether operand `i` of `row`, written as `t`, names a label: and if so,
// whether the line defines it.
bool label_operand(const OpcodeRow& row, int i, std::string_view t, bool& def) {
  def = false;
  if (t.empty() || i >= row.sig.n) return false;
  switch (row.sig.arg[i]) {
    case Arg::def:
      def = true;
      return true;
    case Arg::label:
      return !((row.sig.immediate >> i & 1) && check::int_literal(t));
    case Arg::value:
      return cst_loads_address(t);
    case Arg::callee:
      return check::reg_form(t).kind == check::RegForm::none && check::mips_reg(t).kind == check::MipsReg::none;
    default:
      return false;
  }
}

LabelKind def_kind(std::string_view mnemonic) {
  if (mnemonic == "ntr") return LabelKind::procedure;
  if (mnemonic == "cls") return LabelKind::table;
  if (mnemonic == "str") return LabelKind::string;
  return LabelKind::line;
}

}  // namespace

void Analysis::build(const std::vector<std::string_view>& texts) {
  out.clear();
  pieces.clear();
  files.resize(texts.size());
  for (auto& [name, l] : labels) {
    l.defs.clear();
    l.uses.clear();
  }
  // Sized once, at the first build; later builds keep the capacity.
  if (pieces.capacity() == 0) {
    std::size_t lines = 0;
    for (std::string_view t : texts) lines += static_cast<std::size_t>(std::count(t.begin(), t.end(), '\n')) + 1;
    pieces.reserve(lines);
  }

  std::string err_text;
  Out o(&out, 64 << 10);
  Out err(&err_text, 4 << 10);
  State st(o, err);
  gen_header(st);
  o.flush();

  for (uint32_t fi = 0; fi < texts.size(); fi++) {
    std::string_view text = texts[fi];
    FileIndex& file = files[fi];
    file.occurrences.clear();
    file.first_piece = static_cast<uint32_t>(pieces.size());
    LineReader ip(text.data(), text.size());
    uint32_t at = 0, line = 0;
    auto add = [&](std::string_view name, Tok t, uint32_t piece, bool def, LabelKind kind) {
      auto it = labels.find(name);
      if (it == labels.end()) it = labels.emplace(std::string(name), LabelInfo()).first;
      (def ? it->second.defs : it->second.uses).push_back({fi, piece, t, def, kind});
      file.occurrences.emplace_back(t, name);
    };
    each_piece(st, ip, [&](int len, int n) {
      const char* b = st.line.b;
      Piece p;
      p.file = fi;
      p.line = line;
      p.start = at;
      p.len = static_cast<uint32_t>(n);
      // The piece's shape, seen on a terminated copy: the reader may leave
      // bytes behind a piece.
      char copy[kLinePositions + 1];
      std::memcpy(copy, b, static_cast<std::size_t>(n));
      copy[n] = '\0';
      LineShape sh = line_shape(copy);
      tokonize(st, len);
      p.code_end = at + static_cast<uint32_t>(sh.end);
      if (sh.last_quote > sh.first_quote)
        p.literal = {at + static_cast<uint32_t>(sh.first_quote + 1), static_cast<uint32_t>(sh.last_quote - sh.first_quote - 1)};
      if (st.found_lbl) {
        p.colon = at + st.lbl.n - 1;
        int i = 0, j = static_cast<int>(st.lbl.n) - 1;  // j: the colon
        while (i < j && blank(b[i])) i++;
        while (j > i && blank(b[j - 1])) j--;
        if (j > i) p.label = {at + static_cast<uint32_t>(i), static_cast<uint32_t>(j - i)};
      }
      const Field* f[6] = {&st.opcode, &st.p1, &st.p2, &st.p3, &st.p4, &st.p5};
      for (int i = 0; i < 6; i++) {
        if (f[i]->n == 0) continue;
        p.tok[i] = {at + static_cast<uint32_t>(f[i]->p - b), f[i]->n};
        p.ntok = i + 1;
      }
      p.row = find_row(st.opcode.sv());
      uint32_t index = static_cast<uint32_t>(pieces.size());
      if (p.label.len) add(text.substr(p.label.off, p.label.len), p.label, index, true, LabelKind::line);
      if (p.row) {
        for (int i = 0; i < 5; i++) {
          bool def = false;
          std::string_view t = f[i + 1]->sv();
          if (!label_operand(*p.row, i, t, def)) continue;
          add(t, p.tok[i + 1], index, def, def_kind(p.row->mnemonic));
          p.label_ops |= static_cast<uint8_t>(1u << i);
          if (def) p.def_ops |= static_cast<uint8_t>(1u << i);
        }
      }
      p.out_begin = static_cast<uint32_t>(out.size());
      jump_table(st);
      o.flush();
      p.out_end = static_cast<uint32_t>(out.size());
      pieces.push_back(p);
      at += static_cast<uint32_t>(n);
      if (n > 0 && b[n - 1] == '\n') line++;
    });
    file.end_piece = static_cast<uint32_t>(pieces.size());
    std::sort(file.occurrences.begin(), file.occurrences.end(),
              [](const auto& x, const auto& y) { return x.first.off < y.first.off; });
  }
  // Labels no longer written anywhere.
  std::erase_if(labels, [](const auto& kv) { return kv.second.defs.empty() && kv.second.uses.empty(); });
}

const Piece* Analysis::piece_at(uint32_t file, uint32_t off) const {
  if (file >= files.size()) return nullptr;
  auto first = pieces.begin() + files[file].first_piece, last = pieces.begin() + files[file].end_piece;
  auto it = std::upper_bound(first, last, off, [](uint32_t o, const Piece& p) { return o < p.start; });
  if (it == first) return nullptr;
  return &*(it - 1);
}

std::string_view Analysis::label_at(uint32_t file, uint32_t off, Tok* where) const {
  if (file >= files.size()) return {};
  const auto& occurrences = files[file].occurrences;
  auto it = std::upper_bound(occurrences.begin(), occurrences.end(), off,
                             [](uint32_t o, const auto& x) { return o < x.first.off; });
  // The cursor may stand just behind a name.
  for (int back = 0; back < 2 && it != occurrences.begin(); back++) {
    --it;
    if (off >= it->first.off && off <= it->first.end()) {
      if (where) *where = it->first;
      return it->second;
    }
  }
  return {};
}

}  // namespace qv::lsp
