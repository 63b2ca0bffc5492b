#include "dispatch/opcode_text.h"

namespace qv {

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

std::string operands_text(const OpcodeRow& row) {
  std::string s;
  for (int i = 0; i < row.sig.n; i++) {
    if (i) s += ", ";
    bool opt = i >= row.sig.required;
    if (opt) s += '[';
    s += arg_name(row.sig.arg[i]);
    if (opt) s += ']';
  }
  if (std::string_view(row.mnemonic) == "str") s += " \"text\"";
  return s;
}

}  // namespace qv
