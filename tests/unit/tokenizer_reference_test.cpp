// The tokenizer against a plain, literal rendering of its five steps on a
// 100-position buffer, over many random lines: whatever short cuts the real
// one takes, the fields must come out the same.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <random>
#include <string>

#include "input/tokenizer.h"
#include "tokenizer_support.h"

namespace {

using qv::test::Fields;
using qv::test::fields_of;
using qv::test::show;

// The buffer as the line loop leaves it after reading `piece` (empty: the
// read met end of file and the blanks stay).
void fill(char* b, const std::string& piece) {
  std::memset(b, ' ', 100);
  b[100] = '\0';
  std::memcpy(b, piece.data(), piece.size());
  if (!piece.empty()) b[piece.size()] = '\0';
}

Fields reference(const std::string& piece, const std::string& old_strL) {
  char b[101];
  fill(b, piece);
  Fields r;
  r.strL = old_strL;
  // 1. The first "//" at positions 0 to 98 ends the line.
  for (int k = 0; k <= 98; k++) {
    if (b[k] == '/' && b[k + 1] == '/') {
      b[k] = '\0';
      for (int i = k + 1; i <= 99; i++) b[i] = ' ';
      break;
    }
  }
  // 2. The label, through the first colon, when no double quote comes first.
  const char* colon = std::strchr(b, ':');
  const char* quote = std::strchr(b, '"');
  if (colon && (!quote || colon < quote)) {
    r.lbl.assign(b, colon + 1 - b);
    std::memset(b, ' ', colon + 1 - b);
    r.found_lbl = 1;
  }
  // 3. The literal, strictly between the first and the last double quote.
  const char* first = std::strchr(b, '"');
  const char* last = std::strrchr(b, '"');
  if (first && last && first != last) r.strL.assign(first + 1, last - first - 1);
  // 4. Commas and tabs become blanks.
  for (int i = 0; i <= 99; i++)
    if (b[i] == ',' || b[i] == '\t') b[i] = ' ';
  // 5. Six tokens, one position moving forward.
  int pos = 0;
  for (auto& f : r.f) {
    while (b[pos] == ' ' && pos <= 98) pos++;
    while (!std::isspace(static_cast<unsigned char>(b[pos])) && b[pos] != '\0' && pos <= 98) f += b[pos++];
  }
  return r;
}

Fields real(qv::State& st, const std::string& piece, const std::string& old_strL) {
  st.line.clear();
  std::memcpy(st.line.b, piece.data(), piece.size());
  st.strL.set(old_strL.data(), static_cast<uint32_t>(old_strL.size()));
  st.found_lbl = 0;
  qv::tokonize(st, piece.empty() ? qv::kLinePositions : static_cast<int>(piece.size()));
  return fields_of(st);
}

TEST(TokenizerReference, RandomPiecesOfEveryLength) {
  std::string out_text, err_text;
  qv::Out out{&out_text}, err{&err_text};
  qv::State st{out, err};
  std::mt19937 rng(20261208);
  const std::string alphabet = std::string("ar1L9 , \t:\"//\r\f\v-x") + std::string(1, '\0') + "\xe9\xff";
  for (int round = 0; round < 200000; round++) {
    int len = static_cast<int>(rng() % 100);
    std::string piece;
    for (int i = 0; i < len; i++) {
      // Mostly words and blanks, now and then anything.
      piece += rng() % 8 ? alphabet[rng() % alphabet.size()] : static_cast<char>(rng() % 256);
    }
    // A piece of fewer than 99 characters usually ends with its line break.
    if (len > 0 && len < 99 && rng() % 4) piece.back() = '\n';
    Fields want = reference(piece, "old");
    Fields got = real(st, piece, "old");
    ASSERT_TRUE(want == got) << "piece \"" << show(piece) << "\": opcode \"" << show(got.f[0]) << "\" want \""
                             << show(want.f[0]) << "\", p1 \"" << show(got.f[1]) << "\" want \""
                             << show(want.f[1]) << "\", lbl \"" << show(got.lbl) << "\" want \"" << show(want.lbl)
                             << "\", strL \"" << show(got.strL) << "\" want \"" << show(want.strL) << "\"";
  }
}

}  // namespace
