// String literals: what str writes between quotes, read as SPIM reads it,
// and the words dbg writes into a string of its own.
#include "check/checker.h"

namespace qv::check {

// After a backslash: digits that SPIM reads wrongly.  It takes three octal
// digits, modulo 64, and rejects or keeps as written anything shorter.
bool octal_trouble(std::string_view after) {
  if (after.empty() || after[0] < '0' || after[0] > '9') return false;
  if (after.size() < 3) return true;
  for (int i = 0; i < 3; i++)
    if (after[i] < '0' || after[i] > '7') return true;
  int v = (after[0] - '0') * 64 + (after[1] - '0') * 8 + (after[2] - '0');
  return v >= 64;
}

void Checker::check_literal(const OpcodeRow&) {
  std::string_view p = piece_;
  bool literal = first_quote_ >= 0 && last_quote_ > first_quote_;
  // The translator cuts the comment before it looks for quotes, so a "//"
  // between quotes starts the comment all the same.  It stood inside the
  // literal when an odd number of quotes comes before it and another after
  // it; a comment after a whole literal may hold quotes of its own.
  if (comment_ >= 0) {
    // Quotes as SPIM reads them: a backslash takes the character after it.
    bool open = false;
    for (int k = 0; k < comment_; k++) {
      if (open && p[static_cast<std::size_t>(k)] == '\\') k++;
      else if (p[static_cast<std::size_t>(k)] == '"') open = !open;
    }
    bool after = p.find('"', static_cast<std::size_t>(comment_)) != std::string::npos;
    if (open && after) {
      report(Severity::error, string_literal, col_at(comment_),
             std::string("'//' inside the literal starts a comment: the translator cuts the line here") +
                 (literal ? "" : ", and str writes the literal of the last earlier line that had one"));
      return;
    }
  }
  if (!literal) {
    report(Severity::error, string_literal, col_of(st_.opcode),
           had_literal_
               ? "str without a literal: the translator writes the literal of the last earlier line that had one"
               : "str without a literal: the translator writes an empty string");
    return;
  }
  // Inside the quotes, as SPIM reads them: a backslash that starts no escape
  // stays and takes nothing with it, so each backslash is looked at alone;
  // a quote ends the string unless a backslash stands right before it.
  for (int k = first_quote_ + 1; k < last_quote_; k++) {
    char c = p[static_cast<std::size_t>(k)];
    if (c == '\\') {
      if (octal_trouble(p.substr(static_cast<std::size_t>(k) + 1, static_cast<std::size_t>(last_quote_ - k - 1)))) {
        report(Severity::error, string_literal, col_at(k),
               "'\\" + std::string(1, p[static_cast<std::size_t>(k) + 1]) +
                   "' in the literal: SPIM rejects or mis-reads this octal escape");
        return;
      }
      if (k + 1 == last_quote_) {
        report(Severity::error, string_literal, col_at(k),
               "the literal ends in a backslash, which escapes its closing quote: SPIM never sees the string end");
        return;
      }
      continue;
    }
    if (c == '"' && p[static_cast<std::size_t>(k) - 1] != '\\') {
      report(Severity::error, string_literal, col_at(k),
             "a double quote inside the literal ends the string early; SPIM rejects the line or cuts the string (write "
             "\\\" )");
      return;
    }
  }
}

void Checker::str_line() {
  const Field& p1 = st_.p1;
  if (!p1.empty() && label_name(p1.sv())) mark_data(define(p1.sv(), col_of(p1), false));
}

}  // namespace qv::check
