// The debug adapter's two ends: the messages it sends (from two threads,
// one writer) and the requests it reads, on a thread of its own so that a
// pause, a disconnect or a line of the program's input arrives while the
// engine waits for SPIM.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

#include "emit/out.h"
#include "lsp/rpc.h"

namespace qv::engine {
class Engine;
}
namespace qv::debug {
using engine::Engine;
}

namespace qv::debug::dap {

using json = nlohmann::json;

// Responses and events, numbered, each written whole.  A failed write is
// kept (the first message) and ends the session: see failed().
class Sender {
 public:
  explicit Sender(int fd) : out_(fd, "standard output") {}
  void ok(const json& request, json body = nullptr);
  // `show_user`: the client shows the message to the user (a launch that
  // fails), not only in its log.
  void fail(const json& request, const std::string& message, bool show_user = false);
  void event(std::string_view name, json body = nullptr);
  bool failed();
  std::string failure();

 private:
  void send(json m);
  std::mutex mu_;
  Out out_;
  int64_t seq_ = 1;
  std::string failure_;
};

// What the reader thread and the engine's thread share.
struct Control {
  std::mutex mu;
  std::condition_variable cv;
  std::deque<json> requests;      // for the engine's thread, in order
  std::deque<std::string> input;  // the program's input, typed in the console
  bool closed = false;            // the client went away (or wrote nonsense for ever)
  bool stop = false;              // the session is over: the reader ends
  // While the engine runs the program:
  bool busy = false;
  bool continuing = false;        // a continue, which a new breakpoint may interrupt and resume
  bool waiting_input = false;     // inside the program's read, waiting for a line
  pid_t spim = -1;
  Engine* engine = nullptr;       // the engine that runs it
  bool pause = false;             // the client asked to pause
  bool silent = false;            // interrupted to set breakpoints, then on again
  bool quit = false;              // a disconnect or terminate is queued
  // Stops the running program, called with `mu` held: a program waiting
  // for a line is woken; one that runs gets the engine's interrupt (SPIM's
  // Ctrl-C while it runs the program, else a stop before the next step).
  // `end` ends SPIM instead, whatever it does.
  void interrupt(bool end);
};

// Reads frames from `fd` until the client closes it or `c.stop` is set,
// answering what needs no engine and queuing the rest (see dap.cpp).
void read_requests(int fd, Sender& out, Control& c);

}  // namespace qv::debug::dap
