// libFuzzer target for the checker: arbitrary bytes as one or two input
// files (the first byte chooses, as in the translator's target), checked in
// memory with every rule on.
//
// Besides crashes, hangs and sanitizer reports, the target aborts when:
//   - a diagnostic names a file that is not an input, or a line past the end;
//   - a diagnostic has no message or an unknown rule;
//   - the formatted diagnostic holds a byte that is not printable ASCII, a
//     tab or a line break (the source line must come out escaped);
//   - a second run on the same files gives other diagnostics.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "check/check.h"

namespace {

std::string run(const std::vector<std::string>& names, const std::vector<std::string>& files) {
  qv::check::Settings settings;
  qv::check::Diags diags(&qv::check::rule_names());
  diags.opt.max_errors = 0;
  qv::check::check_texts(names, files, settings, diags);
  diags.trim();
  std::vector<std::size_t> lines;
  for (const std::string& f : files) {
    std::size_t n = 1;
    for (char c : f) n += c == '\n';
    lines.push_back(n);
  }
  std::string all;
  for (const qv::check::Diag& d : diags.all()) {
    if (d.loc.file >= files.size() || d.message.empty()) std::abort();
    if (d.rule >= static_cast<int>(qv::check::rule_names().size())) std::abort();
    if (d.loc.line > lines[d.loc.file]) std::abort();
    std::string f = diags.format(d, false);
    for (char ch : f) {
      unsigned char c = static_cast<unsigned char>(ch);
      if ((c < 0x20 && c != '\n') || c >= 0x7f) std::abort();
    }
    all += f;
  }
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<std::string> files;
  if (data[0] & 1) {
    std::size_t cut = rest.size() * (data[0] >> 1) / 128;
    files = {rest.substr(0, cut), rest.substr(cut)};
  } else {
    files = {rest};
  }
  std::vector<std::string> names;
  for (std::size_t i = 0; i < files.size(); i++) names.push_back("f" + std::to_string(i) + ".ic");
  std::string first = run(names, files);
  if (run(names, files) != first) std::abort();
  return 0;
}
