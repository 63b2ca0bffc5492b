#include "lsp/opcodes.h"

#include "dispatch/opcode_text.h"

namespace qv::lsp {

std::string_view opcode_summary(std::string_view mnemonic) {
  const OpcodeRow* row = find_row(mnemonic);
  return row ? row->doc.meaning : std::string_view();
}

std::string signature_text(const OpcodeRow& row) {
  std::string ops = operands_text(row);
  std::string s = row.mnemonic;
  if (!ops.empty()) s += ' ';
  return s + ops;
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
