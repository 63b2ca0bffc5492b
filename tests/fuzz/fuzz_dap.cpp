// libFuzzer target for quorvelin-debug --dap's message layer: arbitrary
// bytes as what the client writes, read through the adapter's framing and
// dispatched as it dispatches them (serve_dap, its reader thread included),
// in one session per input.
//
// No program is launched.  A launch reads the files it names and starts
// SPIM, and both come from the input: a SPIM path that does not exist would
// not do, since the launch's own "spim" argument names another, and a
// program named /dev/zero or a FIFO never ends.  The session is served with
// launching off instead: a launch is refused once its arguments have been
// read and held to their shape.  So everything before a program is loaded
// is fuzzed (the framing, what the reader answers itself, the arguments'
// shape for every request, initialize, launch's arguments, disconnect and
// terminate); what needs SPIM is the DAP tests' part.
//
// Besides crashes, hangs and sanitizer reports, the target aborts when what
// the adapter wrote is not a sequence of frames, each "Content-Length: N", a
// blank line and N bytes of JSON, numbered 1, 2, 3, ... by "seq", every one
// an event or a response that names its command and says whether it
// succeeded, with a message when it did not.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "debug/dap.h"
#include "frames.h"
#include "lsp/rpc.h"

namespace {

using qv::lsp::json;

void check_frames(const std::string& out) {
  int64_t seq = 1;
  qv::fuzz::for_each_frame("fuzz_dap", out, [&](const json& m) {
    if (m.value("seq", json()) != seq++) qv::fuzz::fail("fuzz_dap", "a message out of sequence", out);
    std::string type = m.value("type", "");
    bool ok = type == "event" ? m.value("event", json()).is_string()
              : type == "response"
                  ? m.value("request_seq", json()).is_number_integer() && m.value("command", json()).is_string() &&
                        m.value("success", json()).is_boolean() &&
                        (m["success"] == true || m.value("message", json()).is_string())
                  : false;
    if (!ok) qv::fuzz::fail("fuzz_dap", "a frame that is neither an event nor a response", out);
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 60000) return 0;  // what one pipe holds without a reader
  int in[2];
  if (::pipe(in) != 0) return 0;
  if (::write(in[1], data, size) != static_cast<ssize_t>(size)) std::abort();
  ::close(in[1]);
  // The adapter writes to a descriptor: one in memory, read back at the end.
  int out = ::memfd_create("fuzz_dap", MFD_CLOEXEC);
  if (out < 0) std::abort();
  int status = qv::debug::serve_dap(in[0], out, false);
  ::close(in[0]);
  std::string text;
  char block[65536];
  ssize_t got;
  if (::lseek(out, 0, SEEK_SET) != 0) std::abort();
  while ((got = ::read(out, block, sizeof block)) > 0) text.append(block, static_cast<std::size_t>(got));
  ::close(out);
  if (status != 0) qv::fuzz::fail("fuzz_dap", "the session failed", text);
  check_frames(text);
  return 0;
}
