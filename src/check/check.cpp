#include "check/check.h"

namespace qv::check {

const std::vector<std::string_view>& rule_names() {
  static const std::vector<std::string_view> names = {
      "unknown-opcode", "line-too-long",   "operand-count", "extra-operand",   "operand-kind",
      "register-range", "float-register",  "duplicate-label", "undefined-label", "reserved-label",
      "pass-through",   "non-ascii",       "string-literal", "program-end",     "class-table",
      "result-register", "argument-count", "heap-size"};
  return names;
}

int find_rule(std::string_view name) {
  const auto& n = rule_names();
  for (std::size_t i = 0; i < n.size(); i++)
    if (n[i] == name) return static_cast<int>(i);
  return -1;
}

bool check_files(const std::vector<std::string>& files, const Settings&, Diags& diags, std::string&) {
  diags.file_names = files;
  return true;
}

void check_texts(const std::vector<std::string>& names, const std::vector<std::string>&, const Settings&,
                 Diags& diags) {
  diags.file_names = names;
}

bool line_marker(std::string_view, uint32_t&, std::string&, bool&) { return false; }

}  // namespace qv::check
