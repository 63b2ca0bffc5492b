#include "input/tokenizer.h"

#include <cstring>

namespace qv {

namespace {

// White space as the C locale classifies it, and the terminator: the bytes
// that end a token.
constexpr bool ends_token(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == '\0'; }

const char* last_of(const char* b, int len, char c) {
  for (int i = len - 1; i >= 0; i--)
    if (b[i] == c) return b + i;
  return nullptr;
}

}  // namespace

// Everything behind the first terminator of the buffer is invisible to the
// steps below (they read the line as a C string), so only [0, len) is looked at.
void tokonize(State& st, int len) {
  char* b = st.line.b;

  // 1. Comment: the first "//" ends the line, also inside double quotes.
  for (const char* s = b; (s = static_cast<const char*>(std::memchr(s, '/', b + len - s)));) {
    int k = static_cast<int>(s - b);
    if (k > 98) break;
    if (b[k + 1] == '/') {
      std::memset(b + k, ' ', kLinePositions - k);
      b[k] = '\0';
      len = k;
      break;
    }
    s++;
  }

  // 2. Label: through the first colon, unless a double quote comes first.
  const char* colon = static_cast<const char*>(std::memchr(b, ':', len));
  const char* quote = static_cast<const char*>(std::memchr(b, '"', len));
  if (colon && (!quote || colon < quote)) {
    uint32_t k = static_cast<uint32_t>(colon - b) + 1;
    st.lbl.set(b, k);
    std::memset(b, ' ', k);
    st.found_lbl = 1;
  }

  // 3. String literal: strictly between the first and the last double quote.
  if (quote) {
    const char* last = last_of(b, len, '"');
    if (last != quote) st.strL.set(quote + 1, static_cast<uint32_t>(last - quote - 1));
  }

  // 4. Commas and tabs are blanks.
  for (int i = 0; i < len; i++)
    if (b[i] == ',' || b[i] == '\t') b[i] = ' ';

  // 5. Six tokens; one position moves forward through all of them, and
  // position 99 never belongs to a token.
  Field* fields[6] = {&st.opcode, &st.p1, &st.p2, &st.p3, &st.p4, &st.p5};
  int pos = 0;
  for (Field* f : fields) {
    while (b[pos] == ' ' && pos <= 98) pos++;
    int start = pos;
    while (pos <= 98 && !ends_token(static_cast<unsigned char>(b[pos]))) pos++;
    f->point(b + start, static_cast<uint32_t>(pos - start));
  }
}

}  // namespace qv
