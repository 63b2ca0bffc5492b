// What the tokenizer left in the state, in a form tests can compare and print.
#pragma once

#include <cstdio>
#include <string>

#include "state.h"

namespace qv::test {

struct Fields {
  std::string f[6], lbl, strL;
  int found_lbl = 0;
  bool operator==(const Fields&) const = default;
};

// The six token fields, the label (only when the line carried one) and the literal.
inline Fields fields_of(const State& st) {
  Fields r;
  const Field* fs[] = {&st.opcode, &st.p1, &st.p2, &st.p3, &st.p4, &st.p5};
  for (int i = 0; i < 6; i++) r.f[i] = std::string(fs[i]->sv());
  r.found_lbl = st.found_lbl;
  if (r.found_lbl) r.lbl = std::string(st.lbl.sv());
  r.strL = std::string(st.strL.sv());
  return r;
}

// Bytes outside printable ASCII as \xNN.
inline std::string show(const std::string& s) {
  std::string r;
  for (unsigned char c : s) {
    if (c >= 32 && c < 127) {
      r += static_cast<char>(c);
    } else {
      char t[8];
      std::snprintf(t, sizeof t, "\\x%02x", c);
      r += t;
    }
  }
  return r;
}

}  // namespace qv::test
