#include "dispatch/jump_table.h"

#include <array>
#include <cstdint>

#include "emit/frame.h"
#include "templates/handlers.h"

namespace qv {

// Each row: the mnemonic, its handler, and the operands its template fills,
// which it writes, and whether it loads $v0 (what the checker holds each
// line against).
constexpr OpcodeRow opcode_table[60] = {
    {"ntr", ntr, "def nreg"},
    {"rtn", rtn, "ret num?"},
    {"cal", cal, "dist callee"},
    {"var", var, "delta num reg> uses-v0"},
    {"alc", alc, "reg reg>"},
    {"cls", cls, "def label#"},
    {"mth", mth, "label#"},
    {"cst", cst, "value reg>"},
    {"cstf", cstf, "flit reg>"},
    {"sto", sto, "reg reg"},
    {"val", val, "reg^"},
    {"valf", valf, "reg freg"},
    {"add", add, "reg# reg^"},
    {"addf", addf, "reg reg^"},
    {"sub", sub, "reg# reg^"},
    {"subf", subf, "reg reg^"},
    {"mul", mul, "reg# reg^"},
    {"mulf", mulf, "reg reg^"},
    {"div", div1, "reg# reg^"},
    {"divf", div1f, "reg reg^"},
    {"rem", rem, "reg# reg^"},
    {"end", end1, "words label label"},
    {"dbg", dbg, "word? uses-v0"},
    {"mov", mov, "reg reg>"},
    {"gint", gint, "reg> uses-v0"},
    {"pint", pint, "reg uses-v0"},
    {"pflt", pflt, "reg uses-v0"},
    {"gflt", gflt, "reg> uses-v0"},
    {"pbln", pbln, "reg uses-v0"},
    {"gbln", gbln, "reg> uses-v0"},
    {"gchr", gchr, "reg> uses-v0"},
    {"pchr", pchr, "reg uses-v0"},
    {"pln", pln, "uses-v0"},
    {"pstr", pstr, "reg uses-v0"},
    {"gstr", gstr, "reg> num? uses-v0"},
    {"tfl", tfl, "reg"},
    {"neg", neg, "reg^"},
    {"negf", negf, "reg^"},
    {"and", and1, "reg# reg^"},
    {"or", or1, "reg# reg^"},
    {"not", not1, "reg^"},
    {"ltn", ltn, "reg# reg^"},
    {"ltnf", ltnf, "reg reg^"},
    {"leq", leq, "reg# reg^"},
    {"leqf", leqf, "reg reg^"},
    {"gtr", gtr, "reg# reg^"},
    {"gtrf", gtrf, "reg reg^"},
    {"geq", geq, "reg# reg^"},
    {"geqf", geqf, "reg reg^"},
    {"eql", eql, "reg reg^"},
    {"eqlf", eql, "reg reg^"},
    {"neq", neq, "reg# reg^"},
    {"neqf", neq, "reg# reg^"},
    {"bra", bra, "label"},
    {"brf", brf, "reg label"},
    {"psh", psh, "reg"},
    {"pshf", pshf, "freg"},
    {"ndx", ndx, "reg^ num num reg^"},
    {"sel", sel, "num reg^"},
    {"str", str1, "def"},
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
