#include "input/tokenizer.h"

#include <array>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qv {

namespace {

// What a byte means to the tokenizer.  Commas and tabs count as blanks
// (separators); the other white space ends the line's tokens.
enum : unsigned char { kWord, kBlank, kEnd };

constexpr std::array<unsigned char, 256> make_kinds() {
  std::array<unsigned char, 256> t{};
  t[' '] = t[','] = t['\t'] = kBlank;
  t['\n'] = t['\v'] = t['\f'] = t['\r'] = t['\0'] = kEnd;
  return t;
}
constexpr std::array<unsigned char, 256> kind = make_kinds();

// The bytes the first scan stops at.
constexpr std::array<bool, 256> make_special() {
  std::array<bool, 256> t{};
  t['/'] = t[':'] = t['"'] = t['\0'] = true;
  return t;
}
constexpr std::array<bool, 256> special = make_special();

inline unsigned char kind_of(char c) { return kind[static_cast<unsigned char>(c)]; }

// One scan finds where the comment begins, the first colon, and the first and
// last double quote; a second scan takes the tokens.  The buffer itself is
// left as it is: the tokens point into it, and reading commas and tabs as
// blanks, and starting behind the label, gives the tokens that blanking those
// positions would.
// What the special byte at k does to the line's shape; true when the line's
// code ends there (the terminator, or the first "//" at positions 0 to 98,
// which cuts the line also inside quotes).
[[gnu::always_inline]] inline bool shape_at(LineShape& sh, const char* b, int k) {
  char c = b[k];
  if (c == '\0') return true;
  if (c == '/') {
    if (b[k + 1] == '/' && k <= 98) {
      sh.comment = true;
      return true;
    }
  } else if (c == ':') {
    // The label runs through the first colon, unless a quote comes first.
    if (sh.colon < 0 && sh.first_quote < 0) sh.colon = k;
  } else {
    if (sh.first_quote < 0) sh.first_quote = k;
    sh.last_quote = k;
  }
  return false;
}

[[gnu::always_inline]] inline LineShape scan_shape(const char* b) {
  LineShape sh;
  int end = 0;  // where the line ends for every step below
  for (;; end++) {
    while (!special[static_cast<unsigned char>(b[end])]) end++;
    if (shape_at(sh, b, end)) break;
  }
  sh.end = end;
  return sh;
}

[[gnu::noinline]] void tokonize_scan(State& st) {
  char* b = st.line.b;
  LineShape sh = scan_shape(b);
  int end = sh.end, colon = sh.colon, first_quote = sh.first_quote, last_quote = sh.last_quote;

  if (colon >= 0) {
    st.lbl.set(b, static_cast<uint32_t>(colon + 1));
    st.found_lbl = 1;
  }
  if (last_quote != first_quote)
    st.strL.set(b + first_quote + 1, static_cast<uint32_t>(last_quote - first_quote - 1));

  // Six tokens.  Position 99 never belongs to a token, so the scan stops there
  // at the latest; a stand-in terminator marks the stop and is put back after.
  int stop = end < 99 ? end : 99;
  char kept = b[stop];
  b[stop] = '\0';
  Field* fields[6] = {&st.opcode, &st.p1, &st.p2, &st.p3, &st.p4, &st.p5};
  int pos = colon + 1;
  int f = 0;
  while (f < 6) {
    while (kind_of(b[pos]) == kBlank) pos++;
    int start = pos;
    while (kind_of(b[pos]) == kWord) pos++;
    fields[f++]->point(b + start, static_cast<uint32_t>(pos - start));
    // Any white space but a blank (or the end) ends the tokens of the line.
    if (kind_of(b[pos]) == kEnd) break;
  }
  for (; f < 6; f++) fields[f]->point(b + pos, 0);
  b[stop] = kept;
}

#if defined(__SSE2__)

// Lines of up to 31 characters (nearly all of them) are classified 16 bytes
// at a time into bit masks, one bit per position; the steps then become a
// few operations on masks, and the tokens are the runs of word bits.
struct Bytes {
  __m128i lo, hi;
};

// With Two false only the first half counts (a line under 16 characters).
template <bool Two = true>
uint32_t mask(__m128i lo, __m128i hi) {
  uint32_t m = static_cast<uint32_t>(_mm_movemask_epi8(lo));
  if constexpr (Two) m |= static_cast<uint32_t>(_mm_movemask_epi8(hi)) << 16;
  return m;
}
__m128i is(__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); }
uint32_t where(const Bytes& x, char c) { return mask(is(x.lo, c), is(x.hi, c)); }

// Blanks, commas and tabs.
__m128i is_blank(__m128i v) { return _mm_or_si128(_mm_or_si128(is(v, ' '), is(v, ',')), is(v, '\t')); }
// Line break, vertical tab, form feed, carriage return (10 to 13).
__m128i is_end(__m128i v) {
  __m128i t = _mm_sub_epi8(v, _mm_set1_epi8(10));
  return _mm_cmpeq_epi8(_mm_min_epu8(t, _mm_set1_epi8(3)), t);
}

// The rare characters of a short line: a terminator or a comment cuts
// `line`; a label is taken out, and its positions are returned; a literal is
// copied.
uint32_t marks(State& st, const Bytes& x, uint32_t& line) {
  const char* b = st.line.b;
  uint32_t nul = where(x, '\0') & line;
  line &= (nul & -nul) - 1;  // all of it when there is no terminator
  uint32_t slash = where(x, '/') & line;
  if (uint32_t comment = slash & (slash >> 1)) line = (1u << __builtin_ctz(comment)) - 1;

  uint32_t colon = where(x, ':') & line;
  uint32_t quote = where(x, '"') & line;
  uint32_t label = 0;
  if (colon && (!quote || __builtin_ctz(colon) < __builtin_ctz(quote))) {
    int k = __builtin_ctz(colon) + 1;
    label = (1u << k) - 1;
    st.lbl.set(b, static_cast<uint32_t>(k));
    st.found_lbl = 1;
  }
  if (quote & (quote - 1)) {
    int first = __builtin_ctz(quote);
    int last = 31 - __builtin_clz(quote);
    st.strL.set(b + first + 1, static_cast<uint32_t>(last - first - 1));
  }
  return label;
}

// A token is a run of word bits: `first` holds the first bit of every run,
// `past` the bit just behind it, and the runs are taken lowest first.  Bit 31
// stands in for both when no run is left, which gives an empty token (no run
// starts there: bit 31 is never a word bit).
void take(Field& f, const char* b, uint32_t& first, uint32_t& past) {
  uint32_t start = static_cast<uint32_t>(__builtin_ctz(first | 1u << 31));
  uint32_t end = static_cast<uint32_t>(__builtin_ctz(past | 1u << 31));
  f.point(b + start, end - start);
  first &= first - 1;
  past &= past - 1;
}

template <bool Two>
void tokonize_short(State& st, int len) {
  char* b = st.line.b;
  Bytes x{_mm_loadu_si128(reinterpret_cast<const __m128i*>(b)),
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16))};

  // The line is the first len positions (no terminator is stored for this: a
  // byte store just before the loads above would hold them up).
  uint32_t line = (1u << len) - 1;
  auto rare = [](__m128i v) {
    return _mm_or_si128(_mm_or_si128(is(v, '\0'), is(v, '/')), _mm_or_si128(is(v, ':'), is(v, '"')));
  };
  uint32_t label = 0;  // the label's positions, blanks for the tokens
  if (mask<Two>(rare(x.lo), rare(x.hi)) & line) [[unlikely]] label = marks(st, x, line);

  // White space other than a blank ends the tokens of the line.
  uint32_t stop = mask<Two>(is_end(x.lo), is_end(x.hi)) & line & ~label;
  line &= (stop & -stop) - 1;  // all of it when there is no stop
  uint32_t word = line & ~label & ~mask<Two>(is_blank(x.lo), is_blank(x.hi));

  uint32_t first = word & ~(word << 1);
  uint32_t past = ~word & (word << 1);
  take(st.opcode, b, first, past);
  take(st.p1, b, first, past);
  take(st.p2, b, first, past);
  take(st.p3, b, first, past);
  if (first == 0) [[likely]] {  // hardly any line has a fifth token
    st.p4.point(b, 0);
    st.p5.point(b, 0);
    return;
  }
  take(st.p4, b, first, past);
  take(st.p5, b, first, past);
}

#endif

}  // namespace

void tokonize(State& st, int len) {
#if defined(__SSE2__)
  if (len < 16) return tokonize_short<false>(st, len);
  if (len < 32) return tokonize_short<true>(st, len);
#endif
  st.line.b[len] = '\0';
  tokonize_scan(st);
}

LineShape line_shape(const char* b) {
#if defined(__SSE2__)
  // Sixteen bytes at a time while they lie in the buffer; most lines hold no
  // special byte before their terminator.
  LineShape sh;
  int k = 0;
  for (; k + 16 <= kLinePositions + 1; k += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k));
    auto is = [&](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    uint32_t m = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(is('\0'), is('/')), _mm_or_si128(is(':'), is('"')))));
    for (; m; m &= m - 1) {
      int at = k + __builtin_ctz(m);
      if (shape_at(sh, b, at)) {
        sh.end = at;
        return sh;
      }
    }
  }
  for (;; k++) {
    while (!special[static_cast<unsigned char>(b[k])]) k++;
    if (shape_at(sh, b, k)) break;
  }
  sh.end = k;
  return sh;
#else
  return scan_shape(b);
#endif
}

}  // namespace qv
