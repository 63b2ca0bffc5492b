#include "lsp/opcodes.h"

namespace qv::lsp {

namespace {

struct Summary {
  const char* mnemonic;
  const char* text;
};

// In the opcode table's order.  pN is the Nth operand.
constexpr Summary summaries[] = {
    {"ntr", "procedure entry: defines the procedure p1 and reserves p2 words for its locals"},
    {"rtn", "returns from the procedure, the register p1 as the result (if given), removing the count of argument words"},
    {"cal", "calls the procedure whose address p2 holds (or the label p2), p1 display levels out (-1: nested in the caller)"},
    {"var", "p3 := the address of the variable at displacement p2, p1 static links out"},
    {"alc", "p2 := the base address of a fresh heap block of p1 words"},
    {"cls", "opens the class table p1 with the superclass table p2 in the data segment; mth lines follow"},
    {"mth", "a method slot of the open class table: the procedure p1"},
    {"cst", "p2 := the integer p1, or the address of the label p1"},
    {"cstf", "p2 := the bit pattern of the float literal p1"},
    {"sto", "the word at address p2 := p1"},
    {"val", "p1 := the word at address p1"},
    {"valf", "the float register p2 := the word at address p1"},
    {"add", "p2 := p2 + p1"},
    {"addf", "p2 := p2 + p1, as floats"},
    {"sub", "p2 := p2 - p1"},
    {"subf", "p2 := p2 - p1, as floats"},
    {"mul", "p2 := p2 * p1"},
    {"mulf", "p2 := p2 * p1, as floats"},
    {"div", "p2 := p2 / p1"},
    {"divf", "p2 := p2 / p1, as floats"},
    {"rem", "p2 := p2 mod p1"},
    {"end", "the program's end: creates the main object of p1 words with the class table p2, calls the constructor p3, exits"},
    {"dbg", "a trace point: prints \"We are at p1\""},
    {"mov", "p2 := p1"},
    {"gint", "p1 := an integer read from the console"},
    {"pint", "prints the integer in p1"},
    {"pflt", "prints the float in p1"},
    {"gflt", "p1 := a float read from the console"},
    {"pbln", "prints the boolean in p1 (true or false)"},
    {"gbln", "p1 := a boolean read from the console"},
    {"gchr", "p1 := a character read from the console"},
    {"pchr", "prints the character in p1"},
    {"pln", "prints a line break"},
    {"pstr", "prints the string whose address p1 holds"},
    {"gstr", "reads a string from the console into the address p1 holds (at most p2 characters)"},
    {"tfl", "stores the run-time flag at the address p1 holds and clears it"},
    {"neg", "p1 := -p1"},
    {"negf", "p1 := -p1, as a float"},
    {"and", "p2 := p2 and p1 (bitwise)"},
    {"or", "p2 := p2 or p1 (bitwise)"},
    {"not", "p1 := not p1 (the low bit flipped)"},
    {"ltn", "p2 := 1 if p2 < p1, else 0"},
    {"ltnf", "p2 := 1 if p2 < p1 as floats, else 0"},
    {"leq", "p2 := 1 if p2 <= p1, else 0"},
    {"leqf", "p2 := 1 if p2 <= p1 as floats, else 0"},
    {"gtr", "p2 := 1 if p2 > p1, else 0"},
    {"gtrf", "p2 := 1 if p2 > p1 as floats, else 0"},
    {"geq", "p2 := 1 if p2 >= p1, else 0"},
    {"geqf", "p2 := 1 if p2 >= p1 as floats, else 0"},
    {"eql", "p2 := 1 if p1 = p2, else 0"},
    {"eqlf", "p2 := 1 if p1 = p2, else 0 (the same code as eql)"},
    {"neq", "p2 := 1 if p2 /= p1, else 0"},
    {"neqf", "p2 := 1 if p2 /= p1, else 0 (the same code as neq)"},
    {"bra", "jumps to the label p1"},
    {"brf", "jumps to the label p2 when p1 is 0 (false)"},
    {"psh", "pushes p1 onto the stack (an argument of the next call)"},
    {"pshf", "pushes the float register p1 onto the stack"},
    {"ndx", "p1 := (p1 - p2) * p3 * 4, and p4 := p4 + p1: the address of an array element"},
    {"sel", "p2 := p2 + 4 * p1: the address of a record's field"},
    {"str", "the string literal of the line, in the data segment under the label p1"},
};
static_assert(std::size(summaries) == std::size(opcode_table));

}  // namespace

std::string_view opcode_summary(std::string_view mnemonic) {
  for (const Summary& s : summaries)
    if (mnemonic == s.mnemonic) return s.text;
  return {};
}

std::string_view arg_name(Arg a) {
  switch (a) {
    case Arg::reg: return "reg";
    case Arg::freg: return "freg";
    case Arg::num: return "num";
    case Arg::nreg: return "num";
    case Arg::dist: return "distance";
    case Arg::delta: return "links";
    case Arg::label: return "label";
    case Arg::def: return "name";
    case Arg::value: return "value";
    case Arg::flit: return "float";
    case Arg::word: return "word";
    case Arg::ret: return "reg|count";
    case Arg::callee: return "proc";
    case Arg::words: return "words";
  }
  return "?";
}

std::string signature_text(const OpcodeRow& row) {
  std::string s = row.mnemonic;
  for (int i = 0; i < row.sig.n; i++) {
    s += i ? ", " : " ";
    bool opt = i >= row.sig.required;
    if (opt) s += '[';
    s += arg_name(row.sig.arg[i]);
    if (opt) s += ']';
  }
  if (std::string_view(row.mnemonic) == "str") s += " \"text\"";
  return s;
}

std::string signature_snippet(const OpcodeRow& row) {
  std::string s = row.mnemonic;
  int i = 0;
  for (; i < row.sig.required; i++) {
    s += i ? ", " : " ";
    s += "${" + std::to_string(i + 1) + ":";
    s += arg_name(row.sig.arg[i]);
    s += '}';
  }
  if (std::string_view(row.mnemonic) == "str") s += " \"${" + std::to_string(i + 1) + ":text}\"";
  return s;
}

}  // namespace qv::lsp
