// The one buffered writer every line of output goes through, and the tiny
// formatter that fills the quoted templates.
//
// A template is written in the code exactly as it appears in the output,
// conversions included:  o.put("\t\t\t\t\t# add -%s-%s-\n", p1, p2);
// The string is split into literal runs and conversions at compile time, so
// filling it is a few fixed-size copies and nothing is parsed per line.  The
// operands are data: a "%" inside an operand reaches the output unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

#include "fatal.h"

namespace qv {

// Writes all n bytes at p to fd, unbuffered, going on after interruptions;
// false (errno set) when a write fails.
bool write_all(int fd, const char* p, std::size_t n);
inline bool write_all(int fd, std::string_view s) { return write_all(fd, s.data(), s.size()); }

// A template split into literal runs around its conversions (%s, %d, %4d, %3i, ...).
struct Fmt {
  static constexpr int kMax = 8;
  const char* text = nullptr;
  uint16_t start[kMax + 1] = {};  // literal run i begins at text + start[i]
  uint16_t len[kMax + 1] = {};
  char kind[kMax] = {};           // 's' or 'd'
  uint8_t width[kMax] = {};       // field width of a numeric conversion
  uint8_t n = 0;                  // number of conversions
  uint16_t total = 0;             // length of all literal runs

  consteval Fmt(const char* s) : text(s) {
    int i = 0;
    int run = 0;
    while (s[i]) {
      if (s[i] != '%') {
        i++;
        continue;
      }
      if (n == kMax) throw "too many conversions";
      len[n] = static_cast<uint16_t>(i - run);
      int j = i + 1;
      int w = 0;
      while (s[j] >= '0' && s[j] <= '9') w = w * 10 + (s[j++] - '0');
      if (s[j] == 's' && w == 0) {
        kind[n] = 's';
      } else if (s[j] == 'd' || s[j] == 'i') {
        kind[n] = 'd';
      } else {
        throw "unsupported conversion";
      }
      width[n] = static_cast<uint8_t>(w);
      n++;
      i = j + 1;
      run = i;
      start[n] = static_cast<uint16_t>(run);
    }
    len[n] = static_cast<uint16_t>(i - run);
    for (int k = 0; k <= n; k++) total = static_cast<uint16_t>(total + len[k]);
  }
};

// A template that must be filled with exactly N values; checked at compile time.
// The Fmt is a member, not a base: clang 14 crashes on a consteval constructor
// of a derived class in a function argument.
template <std::size_t N>
struct FmtN {
  Fmt f;
  consteval FmtN(const char* s) : f(s) {
    if (f.n != N) throw "template and value count differ";
  }
  constexpr operator const Fmt&() const { return f; }
};

class Out {
 public:
  static constexpr std::size_t kCap = 1 << 20;
  static constexpr std::size_t kFlushAt = kCap - (64 << 10);

  // Writes to a file descriptor; `what` names the stream in error messages.
  Out(int fd, const char* what);
  // Collects everything in memory (tests and the fuzzer), through a buffer
  // of `cap` bytes.
  explicit Out(std::string* sink, std::size_t cap = kCap);
  ~Out();
  Out(const Out&) = delete;
  Out& operator=(const Out&) = delete;

  // Inlined, so that every literal run is copied with a length known at
  // compile time.
  template <class... A>
  [[gnu::always_inline]] void put(const std::type_identity_t<FmtN<sizeof...(A)>>& f, const A&... a) {
    fill<true>(f.f, std::make_index_sequence<sizeof...(A)>{}, a...);
  }
  // A template chosen at run time (from a table); the caller passes as many
  // values as it has conversions.
  template <class... A>
  [[gnu::always_inline]] void put_fmt(const Fmt& f, const A&... a) {
    fill<false>(f, std::make_index_sequence<sizeof...(A)>{}, a...);
  }

  void raw(const char* p, std::size_t k) {
    if (k > static_cast<std::size_t>(lim_ - cur_)) return raw_slow(p, k);
    std::memcpy(cur_, p, k);
    cur_ += k;
  }
  void raw(std::string_view s) { raw(s.data(), s.size()); }
  void number(long long v, int width);

  // Writes out what the buffer holds once it is nearly full.
  void maybe_flush() {
    if (cur_ >= buf_ + kFlushAt) flush();
  }
  // Writes out everything buffered; throws Fatal when the write fails.
  void flush();

 private:
  // Room that a value may take in the buffer (its copy may move a few bytes
  // more than its length, see value()).
  template <class A>
  static std::size_t room(const A& a, int width) {
    if constexpr (std::is_integral_v<A>) {
      return 24 + static_cast<std::size_t>(width);
    } else if constexpr (requires { a.s; a.n; }) {
      return a.n > sizeof a.s ? a.n : sizeof a.s;
    } else if constexpr (requires { a.p; a.n; a.own; }) {
      return a.n + sizeof a.own;
    } else if constexpr (requires { a.p; a.n; }) {
      return a.n;
    } else {
      return std::string_view(a).size();
    }
  }

  // Puts one value at d and returns the end of what it wrote.
  template <class A>
  [[gnu::always_inline]] static char* value(char* d, const A& a, int width) {
    if constexpr (std::is_integral_v<A>) {
      return digits(d, static_cast<long long>(a), width);
    } else if constexpr (requires { a.s; a.n; }) {
      // A text with its own storage (a label, the literal): copying a fixed
      // number of bytes from that storage is one or two moves.
      constexpr std::size_t cap = sizeof a.s;
      constexpr std::size_t fixed = cap < 32 ? cap : 16;
      if (a.n <= fixed) {
        std::memcpy(d, a.s, fixed);
      } else {
        std::memcpy(d, a.s, a.n);
      }
      return d + a.n;
    } else if constexpr (requires { a.p; a.n; a.own; }) {
      // An operand field: a mapped register name lies in the field's own
      // storage, which is copied whole; a token is copied by its length.
      if (a.p == a.own) {
        std::memcpy(d, a.own, sizeof a.own);
        return d + a.n;
      }
      return copy(d, a.p, a.n);
    } else if constexpr (requires { a.p; a.n; }) {
      return copy(d, a.p, a.n);
    } else {
      std::string_view s(a);
      return copy(d, s.data(), s.size());
    }
  }

  template <bool Fixed, std::size_t... I, class... A>
  [[gnu::always_inline]] void fill(const Fmt& f, std::index_sequence<I...>, const A&... a) {
    std::size_t need = f.total + (room(a, f.width[I]) + ... + 0);
    if (need > static_cast<std::size_t>(lim_ - cur_)) [[unlikely]] {
      flush();
      if (need > static_cast<std::size_t>(lim_ - cur_)) [[unlikely]] {
        // Values too large for the buffer: piece by piece.
        ((raw(f.text + f.start[I], f.len[I]), slow_value(a, f.width[I])), ...);
        raw(f.text + f.start[sizeof...(A)], f.len[sizeof...(A)]);
        return;
      }
    }
    char* d = cur_;
    ((d = literal<Fixed>(d, f, I), d = value(d, a, f.width[I])), ...);
    d = literal<Fixed>(d, f, sizeof...(A));
    cur_ = d;
  }

  template <bool Fixed>
  [[gnu::always_inline]] static char* literal(char* d, const Fmt& f, std::size_t i) {
    if constexpr (Fixed) {
      std::memcpy(d, f.text + f.start[i], f.len[i]);
      return d + f.len[i];
    } else {
      return copy(d, f.text + f.start[i], f.len[i]);
    }
  }

  template <class A>
  void slow_value(const A& a, int width) {
    if constexpr (std::is_integral_v<A>) {
      number(a, width);
    } else if constexpr (requires { a.s; a.n; }) {
      raw(a.s, a.n);
    } else if constexpr (requires { a.p; a.n; }) {
      raw(a.p, a.n);
    } else {
      raw(std::string_view(a));
    }
  }

  // Copies k bytes to d, for the short runs that are usual here without a
  // call: two overlapping moves of a fixed size.  Returns d + k.
  [[gnu::always_inline]] static char* copy(char* d, const char* s, std::size_t k) {
    if (k >= 8) {
      if (k > 32) {
        std::memcpy(d, s, k);
      } else if (k > 16) {
        move<16>(d, s);
        move<16>(d + k - 16, s + k - 16);
      } else {
        move<8>(d, s);
        move<8>(d + k - 8, s + k - 8);
      }
    } else if (k >= 4) {
      move<4>(d, s);
      move<4>(d + k - 4, s + k - 4);
    } else if (k) {
      d[0] = s[0];
      d[k / 2] = s[k / 2];
      d[k - 1] = s[k - 1];
    }
    return d + k;
  }
  template <std::size_t K>
  [[gnu::always_inline]] static void move(char* d, const char* s) {
    char t[K];
    std::memcpy(t, s, K);
    std::memcpy(d, t, K);
  }

  static char* digits(char* d, long long v, int width);
  void raw_slow(const char* p, std::size_t k);

  char* buf_;
  char* cur_;  // where the next byte goes
  char* lim_;  // the end of the buffer
  int fd_ = -1;
  const char* what_ = "";
  std::string* sink_ = nullptr;
};

}  // namespace qv
