// The one buffered writer every line of output goes through, and the tiny
// formatter that fills the quoted templates.
//
// A template is written in the code exactly as it appears in the output,
// conversions included:  o.put("\t\t\t\t\t# add -%s-%s-\n", p1, p2);
// The string is split into literal runs and conversions at compile time, so
// filling it costs a few memcpy calls and nothing is parsed per line.  The
// operands are data: a "%" inside an operand reaches the output unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

namespace qv {

// A failed read or write that ends the run; what() is the message for the user.
struct Fatal : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A template split into literal runs around its conversions (%s, %d, %4d, %3i, ...).
struct Fmt {
  static constexpr int kMax = 8;
  const char* text = nullptr;
  uint16_t start[kMax + 1] = {};  // literal run i begins at text + start[i]
  uint16_t len[kMax + 1] = {};
  char kind[kMax] = {};           // 's' or 'd'
  uint8_t width[kMax] = {};       // field width of a numeric conversion
  uint8_t n = 0;                  // number of conversions

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
  // Collects everything in memory (tests and the fuzzer).
  explicit Out(std::string* sink);
  ~Out();
  Out(const Out&) = delete;
  Out& operator=(const Out&) = delete;

  template <class... A>
  void put(std::type_identity_t<FmtN<sizeof...(A)>> f, const A&... a) {
    fill(f.f, std::make_index_sequence<sizeof...(A)>{}, a...);
  }
  // A template chosen at run time (from a table); the caller passes as many
  // values as it has conversions.
  template <class... A>
  void put_fmt(const Fmt& f, const A&... a) {
    fill(f, std::make_index_sequence<sizeof...(A)>{}, a...);
  }

  void raw(const char* p, std::size_t k) {
    if (k > kCap - used_) return raw_slow(p, k);
    std::memcpy(buf_ + used_, p, k);
    used_ += k;
  }
  void raw(std::string_view s) { raw(s.data(), s.size()); }
  void number(long long v, int width);

  // Writes out what the buffer holds once it is nearly full.
  void maybe_flush() {
    if (used_ >= kFlushAt) flush();
  }
  // Writes out everything buffered; throws Fatal when the write fails.
  void flush();

 private:
  void value(const Fmt& f, int i, std::string_view s) {
    (void)f;
    (void)i;
    raw(s);
  }
  void value(const Fmt& f, int i, long long v) { number(v, f.width[i]); }
  void value(const Fmt& f, int i, int v) { number(v, f.width[i]); }

  template <std::size_t... I, class... A>
  void fill(const Fmt& f, std::index_sequence<I...>, const A&... a) {
    ((raw(f.text + f.start[I], f.len[I]), value(f, I, a)), ...);
    raw(f.text + f.start[sizeof...(A)], f.len[sizeof...(A)]);
  }
  void raw_slow(const char* p, std::size_t k);

  char* buf_;
  std::size_t used_ = 0;
  int fd_ = -1;
  const char* what_ = "";
  std::string* sink_ = nullptr;
};

}  // namespace qv
