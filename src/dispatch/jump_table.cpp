#include "dispatch/jump_table.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "emit/frame.h"
#include "templates/handlers.h"

namespace qv {

const OpcodeRow opcode_table[60] = {
    {"ntr", ntr},   {"rtn", rtn},   {"cal", cal},    {"var", var},    {"alc", alc},   {"cls", cls},
    {"mth", mth},   {"cst", cst},   {"cstf", cstf},  {"sto", sto},    {"val", val},   {"valf", valf},
    {"add", add},   {"addf", addf}, {"sub", sub},    {"subf", subf},  {"mul", mul},   {"mulf", mulf},
    {"div", div1},  {"divf", div1f}, {"rem", rem},   {"end", end1},   {"dbg", dbg},   {"mov", mov},
    {"gint", gint}, {"pint", pint}, {"pflt", pflt},  {"gflt", gflt},  {"pbln", pbln}, {"gbln", gbln},
    {"gchr", gchr}, {"pchr", pchr}, {"pln", pln},    {"pstr", pstr},  {"gstr", gstr}, {"tfl", tfl},
    {"neg", neg},   {"negf", negf}, {"and", and1},   {"or", or1},     {"not", not1},  {"ltn", ltn},
    {"ltnf", ltnf}, {"leq", leq},   {"leqf", leqf},  {"gtr", gtr},    {"gtrf", gtrf}, {"geq", geq},
    {"geqf", geqf}, {"eql", eql},   {"eqlf", eql},   {"neq", neq},    {"neqf", neq},  {"bra", bra},
    {"brf", brf},   {"psh", psh},   {"pshf", pshf},  {"ndx", ndx},    {"sel", sel},   {"str", str1},
};

namespace {

// Every mnemonic has two to four characters, so it packs into one word; the
// lookup is a binary search over the packed mnemonics instead of sixty string
// comparisons.  Tokens hold no terminator bytes, so packing is exact.
constexpr uint32_t pack(std::string_view s) {
  uint32_t k = 0;
  for (std::size_t i = 0; i < s.size(); i++) k |= static_cast<uint32_t>(static_cast<unsigned char>(s[i])) << (8 * i);
  return k;
}

struct Key {
  uint32_t key;
  Handler handler;
};

std::array<Key, 60> sorted_keys() {
  std::array<Key, 60> keys{};
  for (int i = 0; i < 60; i++) keys[i] = {pack(opcode_table[i].mnemonic), opcode_table[i].handler};
  std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) { return a.key < b.key; });
  return keys;
}

const std::array<Key, 60> keys = sorted_keys();

}  // namespace

Handler find_handler(std::string_view opcode) {
  if (opcode.size() < 2 || opcode.size() > 4) return nullptr;
  uint32_t k = pack(opcode);
  auto it = std::lower_bound(keys.begin(), keys.end(), k, [](const Key& a, uint32_t b) { return a.key < b; });
  return it != keys.end() && it->key == k ? it->handler : nullptr;
}

void jump_table(State& st) {
  Out& o = st.out;

  // A first token that begins with "L" is passed through.
  if (st.opcode.at(0) == 'L') {
    if (st.p1.at(0) == 'j') {
      st.p1.n = 1;
      o.put("%s\t\t\t%s %s\n", st.opcode, st.p1, st.p2);
    } else {
      o.put("%s\t\t\t%s \n", st.opcode, st.p1);
    }
  }

  // A label gets a nop of its own.
  if (st.found_lbl == 1) {
    st.found_lbl = 0;
    o.put("%s\t\t nop\n", st.lbl);
  }

  // Any line but "mth" ends an open class table.
  if (!(st.opcode == "mth") && st.in_data == 1) {
    st.in_data = 0;
    o.put("\t\t\t.text\n");
  }

  if (Handler h = find_handler(st.opcode)) h(st);
}

}  // namespace qv
