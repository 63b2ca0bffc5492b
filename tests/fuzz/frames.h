// What a protocol server wrote, as the fuzz targets hold it to its framing:
// a sequence of "Content-Length: N", a blank line and N bytes of a JSON
// object.  Each frame's message is handed to `each`; anything else aborts.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "lsp/rpc.h"

namespace qv::fuzz {

[[noreturn]] inline void fail(const char* target, const char* what, const std::string& out) {
  std::fprintf(stderr, "%s: %s\n%s\n", target, what, out.substr(0, 2000).c_str());
  std::abort();
}

template <class Each>
void for_each_frame(const char* target, const std::string& out, Each each) {
  std::size_t at = 0;
  while (at < out.size()) {
    static const std::string head = "Content-Length: ";
    if (out.compare(at, head.size(), head) != 0) fail(target, "a frame without its header", out);
    std::size_t eol = out.find("\r\n\r\n", at);
    if (eol == std::string::npos) fail(target, "a header without its end", out);
    std::size_t n = std::strtoul(out.c_str() + at + head.size(), nullptr, 10);
    if (eol + 4 + n > out.size()) fail(target, "a frame shorter than its length", out);
    auto m = lsp::json::parse(out.begin() + static_cast<std::ptrdiff_t>(eol + 4),
                              out.begin() + static_cast<std::ptrdiff_t>(eol + 4 + n), nullptr, false);
    if (m.is_discarded() || !m.is_object()) fail(target, "a frame that is not a JSON object", out);
    each(m);
    at = eol + 4 + n;
  }
}

}  // namespace qv::fuzz
