#include "check/forms.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "check/spim_words.h"

namespace qv::check {

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }
bool alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The decimal conversion the mapping uses: an optional sign, then digits up
// to the first other character; no digits read as 0.
long long leading_int(std::string_view s, bool* all) {
  std::size_t i = 0;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  long long v = 0;
  std::size_t d = i;
  while (i < s.size() && digit(s[i]) && v < 100000) v = v * 10 + (s[i++] - '0');
  *all = i == s.size() && i > d && d == 0;
  return neg ? -v : v;
}

// "$" or "$f" and the number, which a negative number leaves out.
std::string name_of(const char* prefix, long long n) {
  char b[32];
  int k = n < 0 ? std::snprintf(b, sizeof b, "%s", prefix) : std::snprintf(b, sizeof b, "%s%lld", prefix, n);
  return std::string(b, static_cast<std::size_t>(k));
}

}  // namespace

RegForm reg_form_any(std::string_view s) {
  RegForm r;
  if (s.size() > 4 || s.empty()) return r;
  if (s[0] == 'r' || s[0] == 'R') {
    if (s.size() > 1 && (s[1] == 'r' || s[1] == 'R')) {
      r.kind = RegForm::result;
      r.clean = s.size() == 2;
      return r;
    }
    bool all = false;
    r.kind = RegForm::general;
    r.n = leading_int(s.substr(1), &all) + 9;
    r.clean = all;
    return r;
  }
  if (s.size() >= 2 && lower(s[0]) == 'f' && lower(s[1]) == 'p') {
    bool all = false;
    r.kind = RegForm::flt;
    r.n = leading_int(s.substr(2), &all);
    r.clean = all;
  }
  return r;
}

std::string becomes(const RegForm& r) {
  if (r.kind == RegForm::result) return "$v0";
  if (r.kind == RegForm::general) return name_of("$", r.n);
  if (r.kind == RegForm::flt) return name_of("$f", r.n);
  return std::string();
}

bool int_literal(std::string_view s, long long* value) {
  if (s.size() == 3 && s[0] == '\'' && s[2] == '\'' && s[1] != '\\' && s[1] != '\'') {
    if (value) *value = static_cast<unsigned char>(s[1]);
    return true;
  }
  std::size_t i = 0;
  bool neg = false;
  if (i < s.size() && s[i] == '-') {
    neg = true;
    i++;
  }
  if (i == s.size()) return false;
  unsigned long long v = 0;
  if (s.size() - i > 2 && s[i] == '0' && s[i + 1] == 'x') {
    for (i += 2; i < s.size(); i++) {
      char c = lower(s[i]);
      int d = digit(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
      if (d < 0) return false;
      v = (v << 4 | static_cast<unsigned>(d)) & 0xffffffffULL;
    }
  } else {
    for (; i < s.size(); i++) {
      if (!digit(s[i])) return false;
      v = v * 10 + static_cast<unsigned>(s[i] - '0');
      if (v > 0xffffffffffULL) v = 0xffffffffffULL;  // large values wrap in SPIM; keep them large here
    }
  }
  if (value) *value = neg ? -static_cast<long long>(v) : static_cast<long long>(v);
  return true;
}

bool float_literal(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && s[i] == '-') i++;
  std::size_t d = i;
  while (i < s.size() && digit(s[i])) i++;
  if (i == d || i == s.size() || s[i] != '.') return false;
  i++;
  while (i < s.size() && digit(s[i])) i++;
  if (i < s.size() && s[i] == 'e') {
    i++;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) i++;
    std::size_t e = i;
    while (i < s.size() && digit(s[i])) i++;
    if (i == e) return false;
  }
  return i == s.size();
}

MipsReg mips_reg(std::string_view s) {
  MipsReg r;
  if (s.size() < 2 || s[0] != '$') return r;
  std::string_view t = s.substr(1);
  if (std::all_of(t.begin(), t.end(), digit)) {
    long long v = 0;
    for (char c : t) v = std::min(v * 10 + (c - '0'), 1000LL);
    if (v <= 31) r = {MipsReg::gpr, v};
    return r;
  }
  // SPIM's scanner takes "$f" and a digit as a float register whatever
  // follows, and then rejects what is left.
  if (t[0] == 'f' && t.size() > 1 && digit(t[1])) {
    long long v = 0;
    for (std::size_t i = 1; i < t.size() && digit(t[i]); i++) v = std::min(v * 10 + (t[i] - '0'), 1000LL);
    return {MipsReg::fpr, v};
  }
  for (long long n = 0; n < 32; n++)
    if (mips_name(n).substr(1) == t) return {MipsReg::gpr, n};
  if (t == "s8") return {MipsReg::gpr, 30};
  return r;
}

// Bytes outside printable ASCII pass here: the rule on such bytes reports them.
bool identifier(std::string_view s) {
  if (s.empty()) return false;
  auto high = [](char ch) {
    unsigned char c = static_cast<unsigned char>(ch);
    return c >= 0x7f || c < 0x20;
  };
  bool dollar = s[0] == '$';
  if (dollar) {
    if (s.size() == 1 || mips_reg(s).kind != MipsReg::none) return false;
  } else if (!alpha(s[0]) && s[0] != '_' && s[0] != '.' && !high(s[0])) {
    return false;
  }
  for (char ch : s.substr(1))
    if (!alpha(ch) && !digit(ch) && ch != '_' && ch != '.' && !(dollar && ch == '$') && !high(ch)) return false;
  return true;
}

bool spim_word(std::string_view s) {
  // Every such word begins with a lower-case letter or a dot and is short.
  if (s.empty() || ((s[0] < 'a' || s[0] > 'z') && s[0] != '.') || s.size() > 12) return false;
  return std::binary_search(std::begin(kSpimWords), std::end(kSpimWords), s);
}

std::string_view mips_name(long long n) {
  static constexpr std::array<std::string_view, 32> names = {
      "$zero", "$at", "$v0", "$v1", "$a0", "$a1", "$a2", "$a3", "$t0", "$t1", "$t2",
      "$t3",   "$t4", "$t5", "$t6", "$t7", "$s0", "$s1", "$s2", "$s3", "$s4", "$s5",
      "$s6",   "$s7", "$t8", "$t9", "$k0", "$k1", "$gp", "$sp", "$fp", "$ra"};
  return n >= 0 && n < 32 ? names[static_cast<std::size_t>(n)] : std::string_view();
}

int distance(std::string_view a, std::string_view b, int limit) {
  std::size_t n = a.size(), m = b.size();
  if (static_cast<int>(n > m ? n - m : m - n) > limit) return limit + 1;
  // Three rows; names are short, so they live on the stack.
  constexpr std::size_t kShort = 64;
  std::array<int, kShort> s2{}, s1{}, s0{};
  std::vector<int> v2, v1, v0;
  int *prev2 = s2.data(), *prev = s1.data(), *cur = s0.data();
  if (m + 1 > kShort) {
    v2.assign(m + 1, 0), v1.assign(m + 1, 0), v0.assign(m + 1, 0);
    prev2 = v2.data(), prev = v1.data(), cur = v0.data();
  }
  for (std::size_t j = 0; j <= m; j++) prev[j] = static_cast<int>(j);
  int prev_low = 0;
  for (std::size_t i = 1; i <= n; i++) {
    cur[0] = static_cast<int>(i);
    int low = cur[0];
    for (std::size_t j = 1; j <= m; j++) {
      int cost = a[i - 1] == b[j - 1] ? 0 : 1;
      cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) cur[j] = std::min(cur[j], prev2[j - 2] + 1);
      low = std::min(low, cur[j]);
    }
    // A later row's values are at least the least of this row, or of the
    // row before plus one (a transposition reaches two rows back).
    if (std::min(low, prev_low + 1) > limit) return limit + 1;
    prev_low = low;
    int* t = prev2;
    prev2 = prev;
    prev = cur;
    cur = t;
  }
  return std::min(prev[m], limit + 1);
}

}  // namespace qv::check
