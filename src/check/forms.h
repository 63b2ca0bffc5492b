// What an operand is, seen the way the translator's register mapping and
// SPIM's assembler see it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qv::check {

// The mapping's view of an operand.
struct RegForm {
  enum Kind : uint8_t { none, general, result, flt } kind = none;
  long long n = 0;        // the register number it gives (general: N + 9, float: N)
  bool clean = false;     // written in the plain form (r5, rr, fp2)
};

RegForm reg_form_any(std::string_view s);
// Nearly every operand is r0..r99 written plainly: those are read here, the
// rest by reg_form_any.
inline RegForm reg_form(std::string_view s) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (s.size() == 2 && s[0] == 'r' && digit(s[1])) return {RegForm::general, s[1] - '0' + 9, true};
  if (s.size() == 3 && s[0] == 'r' && digit(s[1]) && digit(s[2]) && s[1] != '0')
    return {RegForm::general, (s[1] - '0') * 10 + (s[2] - '0') + 9, true};
  return reg_form_any(s);
}
// The MIPS register the mapping turns it into ("$14", "$v0", "$f2", "$").
std::string becomes(const RegForm& r);

// A register SPIM reads in an operand written with "$", which the mapping
// leaves as it stands: "$N" with N up to 31 (leading zeros allowed) or a
// name such as "$t0" (gpr), "$f" and digits (fpr, any number: SPIM rejects
// those above 31).  Anything else that begins with "$" ("$L1", "$32",
// "$t10") is a label to SPIM.
struct MipsReg {
  enum Kind : uint8_t { none, gpr, fpr } kind = none;
  long long n = 0;
};
MipsReg mips_reg(std::string_view s);

// An integer as SPIM's li takes it: decimal with an optional minus, 0x hex,
// or a character in single quotes.
bool int_literal(std::string_view s, long long* value = nullptr);

// A float literal that SPIM's li.s takes: digits, a point, more digits, and
// an exponent with a lower-case e.
bool float_literal(std::string_view s);

// A name SPIM takes as a label: a letter, "_" or "." and then letters,
// digits, "_" and "."; or "$" and then any of those and "$", when that does
// not read as a register.
bool identifier(std::string_view s);

// A name SPIM reads as one of its own instruction or directive words, which
// cannot be a label.
bool spim_word(std::string_view s);

// The MIPS names of $0..$31, for messages ("$23 ($s7)").
std::string_view mips_name(long long n);

// Edit distance with transpositions (for "did you mean").
// With `limit`, any distance above it comes back as limit + 1, sooner.
int distance(std::string_view a, std::string_view b, int limit = 1 << 20);

}  // namespace qv::check
