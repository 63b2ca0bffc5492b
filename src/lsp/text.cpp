#include "lsp/text.h"

#include <algorithm>

namespace qv::lsp {

void utf8_step(const unsigned char* p, std::size_t left, uint32_t& bytes, uint32_t& units) {
  bytes = 1;
  units = 1;
  unsigned char c = p[0];
  uint32_t need = 0;
  if (c >= 0xC2 && c <= 0xDF)
    need = 1;
  else if (c >= 0xE0 && c <= 0xEF)
    need = 2;
  else if (c >= 0xF0 && c <= 0xF4)
    need = 3;
  if (need == 0 || left <= need) return;
  for (uint32_t k = 1; k <= need; k++)
    if ((p[k] & 0xC0) != 0x80) return;
  // Overlong and surrogate forms are invalid too.
  if (c == 0xE0 && p[1] < 0xA0) return;
  if (c == 0xED && p[1] >= 0xA0) return;
  if (c == 0xF0 && p[1] < 0x90) return;
  if (c == 0xF4 && p[1] >= 0x90) return;
  bytes = need + 1;
  units = need == 3 ? 2 : 1;
}

void Text::index() {
  starts_.assign(1, 0);
  for (std::size_t i = 0; i < s_.size(); i++)
    if (s_[i] == '\n') starts_.push_back(static_cast<uint32_t>(i + 1));
}

uint32_t Text::line_start(uint32_t l) const { return l < starts_.size() ? starts_[l] : static_cast<uint32_t>(s_.size()); }

uint32_t Text::line_end(uint32_t l) const {
  if (l + 1 >= starts_.size()) return static_cast<uint32_t>(s_.size());
  uint32_t e = starts_[l + 1] - 1;  // the "\n"
  if (e > starts_[l] && s_[e - 1] == '\r') e--;
  return e;
}

uint32_t Text::line_of(uint32_t off) const {
  auto it = std::upper_bound(starts_.begin(), starts_.end(), off);
  return static_cast<uint32_t>(it - starts_.begin()) - 1;
}

Pos Text::pos(uint32_t off) const {
  off = std::min(off, static_cast<uint32_t>(s_.size()));
  Pos p;
  p.line = line_of(off);
  const auto* b = reinterpret_cast<const unsigned char*>(s_.data());
  uint32_t i = starts_[p.line];
  while (i < off) {
    uint32_t bytes, units;
    utf8_step(b + i, s_.size() - i, bytes, units);
    if (i + bytes > off) break;  // inside a character: its start
    i += bytes;
    p.col += units;
  }
  return p;
}

uint32_t Text::offset(Pos p) const {
  if (p.line >= starts_.size()) return static_cast<uint32_t>(s_.size());
  const auto* b = reinterpret_cast<const unsigned char*>(s_.data());
  uint32_t i = starts_[p.line], end = line_end(p.line);
  uint32_t col = 0;
  while (i < end && col < p.col) {
    uint32_t bytes, units;
    utf8_step(b + i, s_.size() - i, bytes, units);
    if (col + units > p.col) break;  // between the halves of a surrogate pair
    i += bytes;
    col += units;
  }
  return i;
}

void Text::replace(uint32_t from, uint32_t to, std::string_view with) {
  from = std::min(from, static_cast<uint32_t>(s_.size()));
  to = std::clamp(to, from, static_cast<uint32_t>(s_.size()));
  s_.replace(from, to - from, with);
  index();
}

}  // namespace qv::lsp
