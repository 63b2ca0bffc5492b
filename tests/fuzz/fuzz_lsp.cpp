// libFuzzer target for quorvelin-lsp's message layer: arbitrary bytes as
// what the client writes, after a fixed start (initialize, and a program
// opened), read through the server's framing and dispatched as it dispatches
// them, in one Server object per input.
//
// Besides crashes, hangs and sanitizer reports, the target aborts when what
// the server wrote is not a sequence of frames, each "Content-Length: N",
// a blank line and N bytes of valid JSON, every one a JSON-RPC 2.0 message.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "frames.h"
#include "lsp/server.h"

namespace {

std::string frame(const std::string& body) { return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body; }

const std::string& start() {
  static const std::string s =
      frame(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"rootUri":null,"capabilities":{},)"
            R"("initializationOptions":{"debounceMs":0}}})") +
      frame(R"({"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///f.ic",)"
            R"("version":1,"text":"cls Shape, Shape\n\tmth Area\nntr Area, 0\n\tcst 2, r1\n\tbrf r1, Out\n\tstr S \"x\"\n)"
            R"(Out:\trtn r1, 1 // done\n//#line 3 \"a.c\"\nntr Main, 0\n\tcst Area, r4\n\tcal -1, r4\n\trtn 1\nend 1, Shape, Main\n"}}})");
  return s;
}

void check_frames(const std::string& out) {
  qv::fuzz::for_each_frame("fuzz_lsp", out, [&](const qv::lsp::json& m) {
    if (m.value("jsonrpc", "") != "2.0") qv::fuzz::fail("fuzz_lsp", "a frame that is not a JSON-RPC message", out);
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string in = start();
  in.append(reinterpret_cast<const char*>(data), size);
  if (in.size() > 60000) return 0;  // what one pipe holds without a reader
  int fds[2];
  if (::pipe(fds) != 0) return 0;
  if (::write(fds[1], in.data(), in.size()) != static_cast<ssize_t>(in.size())) std::abort();
  ::close(fds[1]);
  std::string out;
  {
    qv::Out o(&out, 4096);
    qv::lsp::Reader r(fds[0]);
    qv::lsp::Server server(r, o);
    try {
      server.run();
    } catch (const qv::Fatal&) {
      std::abort();  // writing into memory cannot fail
    }
    o.flush();
  }
  ::close(fds[0]);
  check_frames(out);
  return 0;
}
