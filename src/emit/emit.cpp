#include "emit/emit.h"

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

// The standard decimal conversion: leading white space, a sign, digits up to
// the first non-digit; no digits read as 0.  Operands here are at most three
// characters long, so the value cannot overflow.
long long to_int(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) i++;
  bool minus = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) minus = s[i++] == '-';
  long long v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') v = v * 10 + (s[i++] - '0');
  return minus ? -v : v;
}

bool is(char c, char lower) { return c == lower || c == lower - 'a' + 'A'; }

}  // namespace

void map(State& st, Field& f) {
  if (f.n > 4) return;
  char name[8];
  if (is(f.at(0), 'r')) {
    if (is(f.at(1), 'r')) {
      f.set("$v0");
      return;
    }
    name[0] = '$';
    int k = itoa(to_int(f.sv().substr(1)) + 9, name + 1);
    f.set({name, static_cast<std::size_t>(1 + k)});
  } else if (is(f.at(0), 'f') && is(f.at(1), 'p')) {
    long long reg = to_int(f.sv().substr(2));
    // The trace line is not assembly: it goes to standard error, after what
    // standard output holds so far, so the two streams interleave in order.
    st.out.flush();
    st.err.put("floating reg is %4d\n", reg);
    st.err.flush();
    name[0] = '$';
    name[1] = 'f';
    int k = itoa(reg, name + 2);
    f.set({name, static_cast<std::size_t>(2 + k)});
  }
}

}  // namespace qv
