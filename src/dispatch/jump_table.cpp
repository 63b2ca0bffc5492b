#include "dispatch/jump_table.h"

#include <array>
#include <cstdint>

#include "emit/frame.h"
#include "templates/handlers.h"

namespace qv {

// Each row: the mnemonic, its handler, the operands its template fills,
// which it writes, and whether it loads $v0 (what the checker holds each
// line against), and what the line does (OpcodeDoc).
constexpr OpcodeRow opcode_table[60] = {
    {"ntr", ntr, "def nreg",
     {"procedure entry: defines the procedure p1, saves r0..r13 and reserves p2 words for its locals",
      "", "stack"}},
    {"rtn", rtn, "ret num?",
     {"returns from the procedure: rr := the register p1 (if given), r0..r13 restored, the count of argument words (p2, or p1 alone) removed",
      "p1, stack", "rr, r0..r13, stack"}},
    {"cal", cal, "dist callee",
     {"calls the procedure whose address p2 holds (or the label p2), its static link p1 + 1 links out from the caller's (-1: nested in the caller)",
      "p2", "rr, stack"}},
    {"var", var, "delta num reg> uses-v0",
     {"p3 := the address of the variable at displacement p2 in the frame p1 static links out",
      "", "p3, rr"}},
    {"alc", alc, "reg reg>",
     {"p2 := the base address of a fresh heap block of p1 words",
      "p1", "p2, heap"}},
    {"cls", cls, "def label#",
     {"opens the class table p1 with the superclass table p2 (its word 0) in the data segment; mth lines follow",
      "", ""}},
    {"mth", mth, "label#",
     {"a method slot of the open class table: the address of the procedure p1",
      "", ""}},
    {"cst", cst, "value reg>",
     {"p2 := the integer p1, or the address of the label p1",
      "", "p2"}},
    {"cstf", cstf, "flit reg>",
     {"p2 := the bit pattern of the float literal p1",
      "", "p2"}},
    {"sto", sto, "reg reg",
     {"the word at address p2 := p1",
      "p1, p2", "[p2]"}},
    {"val", val, "reg^",
     {"p1 := the word at address p1",
      "p1, [p1]", "p1"}},
    {"valf", valf, "reg freg",
     {"the float register p2 := the word at address p1",
      "p1, [p1]", "p2"}},
    {"add", add, "reg# reg^",
     {"p2 := p2 + p1",
      "p1, p2", "p2"}},
    {"addf", addf, "reg reg^",
     {"p2 := p2 + p1, as floats",
      "p1, p2", "p2"}},
    {"sub", sub, "reg# reg^",
     {"p2 := p2 - p1",
      "p1, p2", "p2"}},
    {"subf", subf, "reg reg^",
     {"p2 := p2 - p1, as floats",
      "p1, p2", "p2"}},
    {"mul", mul, "reg# reg^",
     {"p2 := p2 * p1",
      "p1, p2", "p2"}},
    {"mulf", mulf, "reg reg^",
     {"p2 := p2 * p1, as floats",
      "p1, p2", "p2"}},
    {"div", div1, "reg# reg^",
     {"p2 := p2 / p1 (the integer quotient)",
      "p1, p2", "p2"}},
    {"divf", div1f, "reg reg^",
     {"p2 := p2 / p1, as floats",
      "p1, p2", "p2"}},
    {"rem", rem, "reg# reg^",
     {"p2 := p2 mod p1 (the remainder of p2 / p1)",
      "p1, p2", "p2"}},
    {"end", end1, "words label label",
     {"the program's end: creates the main object of p1 words with the class table p2, calls the constructor p3, exits",
      "", "heap"}},
    {"dbg", dbg, "word? uses-v0",
     {"a trace point: prints \"We are at p1\" and a line break",
      "", "rr, console"}},
    {"mov", mov, "reg reg>",
     {"p2 := p1",
      "p1", "p2"}},
    {"gint", gint, "reg> uses-v0",
     {"p1 := an integer read from the console",
      "console", "p1, rr"}},
    {"pint", pint, "reg uses-v0",
     {"prints the integer in p1, then a blank",
      "p1", "rr, console"}},
    {"pflt", pflt, "reg uses-v0",
     {"prints the float in p1, then a blank",
      "p1", "rr, console"}},
    {"gflt", gflt, "reg> uses-v0",
     {"p1 := a float read from the console",
      "console", "p1, rr"}},
    {"pbln", pbln, "reg uses-v0",
     {"prints the boolean in p1 (false for 0, else true), then a blank",
      "p1", "rr, console"}},
    {"gbln", gbln, "reg> uses-v0",
     {"p1 := 1 or 0 for true or false read from the console; the rest of the line is skipped",
      "console", "p1, rr"}},
    {"gchr", gchr, "reg> uses-v0",
     {"p1 := a character read from the console; the end-of-line flag := 1 if it is a line break, else 0",
      "console", "p1, rr, flag"}},
    {"pchr", pchr, "reg uses-v0",
     {"prints the character in p1",
      "p1", "rr, console"}},
    {"pln", pln, "uses-v0",
     {"prints a line break",
      "", "rr, console"}},
    {"pstr", pstr, "reg uses-v0",
     {"prints the string whose address p1 holds",
      "p1", "rr, console"}},
    {"gstr", gstr, "reg> num? uses-v0",
     {"p1 := the address of a fresh 100-byte heap block holding a string read from the console (at most p2 bytes, 100 if not given)",
      "console", "p1, rr, heap"}},
    {"tfl", tfl, "reg",
     {"the word at address p1 := the end-of-line flag, which is then cleared",
      "p1, flag", "[p1], flag"}},
    {"neg", neg, "reg^",
     {"p1 := -p1",
      "p1", "p1"}},
    {"negf", negf, "reg^",
     {"p1 := -p1, as a float",
      "p1", "p1"}},
    {"and", and1, "reg# reg^",
     {"p2 := p2 and p1 (bitwise)",
      "p1, p2", "p2"}},
    {"or", or1, "reg# reg^",
     {"p2 := p2 or p1 (bitwise)",
      "p1, p2", "p2"}},
    {"not", not1, "reg^",
     {"p1 := not p1 (the low bit flipped)",
      "p1", "p1"}},
    {"ltn", ltn, "reg# reg^",
     {"p2 := 1 if p2 < p1, else 0",
      "p1, p2", "p2"}},
    {"ltnf", ltnf, "reg reg^",
     {"p2 := 1 if p2 < p1 as floats, else 0",
      "p1, p2", "p2"}},
    {"leq", leq, "reg# reg^",
     {"p2 := 1 if p2 <= p1, else 0",
      "p1, p2", "p2"}},
    {"leqf", leqf, "reg reg^",
     {"p2 := 1 if p2 <= p1 as floats, else 0",
      "p1, p2", "p2"}},
    {"gtr", gtr, "reg# reg^",
     {"p2 := 1 if p2 > p1, else 0",
      "p1, p2", "p2"}},
    {"gtrf", gtrf, "reg reg^",
     {"p2 := 1 if p2 > p1 as floats, else 0",
      "p1, p2", "p2"}},
    {"geq", geq, "reg# reg^",
     {"p2 := 1 if p2 >= p1, else 0",
      "p1, p2", "p2"}},
    {"geqf", geqf, "reg reg^",
     {"p2 := 1 if p2 >= p1 as floats, else 0",
      "p1, p2", "p2"}},
    {"eql", eql, "reg reg^",
     {"p2 := 1 if p2 = p1, else 0",
      "p1, p2", "p2"}},
    {"eqlf", eql, "reg reg^",
     {"p2 := 1 if p2 = p1 bit for bit, else 0 (the code of eql)",
      "p1, p2", "p2"}},
    {"neq", neq, "reg# reg^",
     {"p2 := 1 if p2 /= p1, else 0",
      "p1, p2", "p2"}},
    {"neqf", neq, "reg# reg^",
     {"p2 := 1 if p2 /= p1 bit for bit, else 0 (the code of neq)",
      "p1, p2", "p2"}},
    {"bra", bra, "label",
     {"jumps to the label p1",
      "", ""}},
    {"brf", brf, "reg label",
     {"jumps to the label p2 when p1 is 0 (false)",
      "p1", ""}},
    {"psh", psh, "reg",
     {"pushes p1 onto the stack: an argument of the next cal",
      "p1", "stack"}},
    {"pshf", pshf, "freg",
     {"pushes the float register p1 onto the stack",
      "p1", "stack"}},
    {"ndx", ndx, "reg^ num num reg^",
     {"p4 := the address of element p1 of the array at p4 (lower bound p2, elements of p3 words); p1 := its offset in bytes",
      "p1, p4", "p1, p4"}},
    {"sel", sel, "num reg^",
     {"p2 := p2 + 4 * p1: the address of field p1 of the record at p2",
      "p2", "p2"}},
    {"str", str1, "def",
     {"the line's string literal, in the data segment under the label p1",
      "", ""}},
};

namespace {

// Every mnemonic has two to four characters, so it packs into one word (a
// token holds no terminator bytes, so packing is exact and tokens of other
// lengths can never equal a packed mnemonic).  The packed words are spread
// over 256 slots by a multiplier chosen so that no two of them share a slot:
// one multiplication and one comparison find the row, or show there is none.
// The mnemonics are distinct, so this calls exactly the handler that the
// comparison with every row would.
constexpr uint32_t pack(const char* s, uint32_t n) {
  uint32_t k = 0;
  for (uint32_t i = 0; i < n; i++) k |= static_cast<uint32_t>(static_cast<unsigned char>(s[i])) << (8 * i);
  return k;
}

constexpr uint32_t kMul = 0x2840721b;
constexpr uint32_t slot(uint32_t k) { return (k * kMul) >> 24; }

struct Slot {
  uint32_t key = 0;  // 0: empty (no mnemonic packs to 0)
  const OpcodeRow* row = nullptr;
};

constexpr std::array<Slot, 256> make_slots() {
  std::array<Slot, 256> t{};
  for (const OpcodeRow& row : opcode_table) {
    uint32_t n = 0;
    while (row.mnemonic[n]) n++;
    uint32_t k = pack(row.mnemonic, n);
    Slot& s = t[slot(k)];
    if (s.key != 0) throw "two mnemonics share a slot: choose another multiplier";
    s = {k, &row};
  }
  return t;
}

constexpr std::array<Slot, 256> slots = make_slots();

// Two two-byte reads, overlapping for three characters, pack a token of two
// to four characters without a loop and without reading past its end.
inline uint32_t pack_token(const char* p, std::size_t n) {
  uint32_t a = static_cast<unsigned char>(p[0]) | static_cast<uint32_t>(static_cast<unsigned char>(p[1])) << 8;
  uint32_t c = static_cast<unsigned char>(p[n - 2]) | static_cast<uint32_t>(static_cast<unsigned char>(p[n - 1])) << 8;
  return a | c << (8 * (n - 2));
}

inline const OpcodeRow* lookup(std::string_view opcode) {
  if (opcode.size() - 2 > 2) return nullptr;  // not two to four characters
  uint32_t k = pack_token(opcode.data(), opcode.size());
  const Slot& s = slots[slot(k)];
  return s.key == k ? s.row : nullptr;
}

// The three rules that write lines of their own.  They apply to few lines,
// so they stay out of the path that every line takes.

// A first token that begins with "L" is passed through.
[[gnu::noinline]] void pass_through(State& st) {
  if (st.p1.at(0) == 'j') {
    st.p1.n = 1;
    st.out.put("%s\t\t\t%s %s\n", st.opcode, st.p1, st.p2);
  } else {
    st.out.put("%s\t\t\t%s \n", st.opcode, st.p1);
  }
}

// A label gets a nop of its own.
[[gnu::noinline]] void label_line(State& st) {
  st.found_lbl = 0;
  st.out.put("%s\t\t nop\n", st.lbl);
}

// Any line but "mth" ends an open class table.
[[gnu::noinline]] void end_table(State& st) {
  if (st.opcode == "mth") return;
  st.in_data = 0;
  st.out.put("\t\t\t.text\n");
}

}  // namespace

const OpcodeRow* find_row(std::string_view opcode) { return lookup(opcode); }

Handler find_handler(std::string_view opcode) {
  const OpcodeRow* r = lookup(opcode);
  return r ? r->handler : nullptr;
}

void jump_table(State& st) {
  if (st.opcode.at(0) == 'L') [[unlikely]] pass_through(st);
  if (st.found_lbl == 1) [[unlikely]] label_line(st);
  if (st.in_data == 1) [[unlikely]] end_table(st);
  if (const OpcodeRow* r = lookup(st.opcode)) r->handler(st);
}

}  // namespace qv
