#include "emit/emit.h"

#include <array>
#include <cstring>

namespace qv {

int itoa(long long v, char* s) {
  if (v < 0) {
    s[0] = '\0';
    return 0;
  }
  char tmp[24];
  int k = 0;
  do {
    tmp[k++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  int n = 0;
  while (k) s[n++] = tmp[--k];
  s[n] = '\0';
  return n;
}

int isreg(std::string_view s) { return !s.empty() && s[0] == '$'; }

void new_ilabel(uint64_t n, Label& l) {
  l.s[0] = '_';
  l.s[1] = 'M';
  l.s[2] = 'L';
  l.n = 3 + itoa(static_cast<long long>(n), l.s + 3);
}

namespace {

// The standard decimal conversion of s[0..n): leading white space, a sign,
// digits up to the first non-digit; no digits read as 0.  Operands here are at
// most three characters long, so the value cannot overflow.
int to_int(const char* s, uint32_t n) {
  uint32_t i = 0;
  while (i < n && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) i++;
  bool minus = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) minus = s[i++] == '-';
  int v = 0;
  while (i < n && s[i] >= '0' && s[i] <= '9') v = v * 10 + (s[i++] - '0');
  return minus ? -v : v;
}

bool is(char c, char lower) { return c == lower || c == lower - 'a' + 'A'; }

// The field becomes prefix and the decimal digits of v (none for a negative
// v).  v has at most four digits ("r999"), so it fits in the field's room.
void rename(Field& f, const char* prefix, uint32_t k, int v) {
  std::memcpy(f.own, prefix, k);
  f.n = k + static_cast<uint32_t>(itoa(v, f.own + k));
  f.p = f.own;
}

// "$9" to "$108", the names of r0 to r99: the operands of nearly every line,
// so they are looked up instead of converted.
struct RegName {
  char s[4];
  uint32_t n;
};

constexpr std::array<RegName, 100> make_reg_names() {
  std::array<RegName, 100> t{};
  for (int v = 0; v < 100; v++) {
    int r = v + 9;
    RegName& x = t[v];
    x.s[0] = '$';
    x.n = 1;
    if (r >= 100) x.s[x.n++] = static_cast<char>('0' + r / 100);
    if (r >= 10) x.s[x.n++] = static_cast<char>('0' + r / 10 % 10);
    x.s[x.n++] = static_cast<char>('0' + r % 10);
  }
  return t;
}

constexpr std::array<RegName, 100> reg_names = make_reg_names();

bool digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

void map(State& st, Field& f) {
  if (f.n > 4) return;
  if (is(f.at(0), 'r')) {
    if (is(f.at(1), 'r')) {
      f.set("$v0");
      return;
    }
    if ((f.n == 2 && digit(f.p[1])) || (f.n == 3 && digit(f.p[1]) && digit(f.p[2]))) {
      int v = f.n == 2 ? f.p[1] - '0' : (f.p[1] - '0') * 10 + (f.p[2] - '0');
      std::memcpy(f.own, reg_names[v].s, 4);
      f.p = f.own;
      f.n = reg_names[v].n;
      return;
    }
    rename(f, "$", 1, to_int(f.p + 1, f.n - 1) + 9);
  } else if (is(f.at(0), 'f') && is(f.at(1), 'p')) {
    int reg = to_int(f.p + 2, f.n - 2);
    // The trace line is not assembly: it goes to standard error, after what
    // standard output holds so far, so the two streams interleave in order.
    st.out.flush();
    st.err.put("floating reg is %4d\n", reg);
    st.err.flush();
    rename(f, "$f", 2, reg);
  }
}

}  // namespace qv
