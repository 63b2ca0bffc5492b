#include "debug/dap_channel.h"

#include <signal.h>

#include <map>

#include "debug/engine_names.h"
#include "fatal.h"

namespace qv::debug::dap {

void Sender::send(json m) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!failure_.empty()) return;
  m["seq"] = seq_++;
  try {
    lsp::send(out_, m);
  } catch (const Fatal& e) {
    failure_ = e.what();
  }
}

namespace {

// What a response names its request by; a malformed one gets 0 and "".
json seq_of(const json& request) {
  if (request.is_object() && request.contains("seq") && request["seq"].is_number_integer()) return request["seq"];
  return 0;
}

json command_of(const json& request) {
  if (request.is_object() && request.contains("command") && request["command"].is_string()) return request["command"];
  return "";
}

}  // namespace

void Sender::ok(const json& request, json body) {
  json m = {{"type", "response"}, {"request_seq", seq_of(request)}, {"success", true},
            {"command", command_of(request)}};
  if (!body.is_null()) m["body"] = std::move(body);
  send(std::move(m));
}

void Sender::fail(const json& request, const std::string& message, bool show_user) {
  json m = {{"type", "response"},
            {"request_seq", seq_of(request)},
            {"success", false},
            {"command", command_of(request)},
            {"message", message},
            {"body", {{"error", {{"id", 1}, {"format", message}, {"showUser", show_user}}}}}};
  send(std::move(m));
}

void Sender::event(std::string_view name, json body) {
  json m = {{"type", "event"}, {"event", name}};
  if (!body.is_null()) m["body"] = std::move(body);
  send(std::move(m));
}

bool Sender::failed() {
  std::lock_guard<std::mutex> lock(mu_);
  return !failure_.empty();
}

std::string Sender::failure() {
  std::lock_guard<std::mutex> lock(mu_);
  return failure_;
}

void Control::interrupt(bool end) {
  if (waiting_input)
    cv.notify_all();
  else if (busy && spim > 0 && end)
    ::kill(spim, SIGKILL);
  else if (busy && engine)
    engine->interrupt();
}

namespace {

// A frame's body that is a request: a JSON object with a string command.
bool is_request(const json& m) {
  return m.is_object() && m.contains("type") && m["type"] == "request" && m.contains("command") && m["command"].is_string() &&
         m.contains("seq") && m["seq"].is_number_integer();
}

// The arguments of each request the adapter serves, as the protocol has
// them (see misshapen in lsp/rpc.h); the others' are not looked at.
// disconnect and terminate are left out: the adapter reads none of their
// options, and nothing in them should keep a session from ending.
const lsp::Shape* shape_of(std::string_view command) {
  using namespace lsp;
  static const std::map<std::string_view, Shape> shapes = [] {
    const Shape thread = {{"threadId", kInteger}};
    std::map<std::string_view, Shape> m;
    m["initialize"] = {{"adapterID", kString}, {"linesStartAt1?", kBoolean}, {"columnsStartAt1?", kBoolean}};
    // program: the adapter's own, a file or a list of them.
    m["launch"] = {{"program?", kString | kList}, {"program[]", kString},  {"stdinFile?", kString},
                   {"stopOnEntry?", kBoolean},    {"noCheck?", kBoolean},  {"spim?", kString},
                   {"stack?", kUinteger},         {"args?", kList},
                   {"args[]", kString}};
    m["setBreakpoints"] = {{"source", kObject},           {"source.path?", kString},
                           {"breakpoints?", kList},       {"breakpoints[]", kObject},
                           {"breakpoints[].line", kInteger}, {"breakpoints[].condition?", kString},
                           {"lines?", kList},             {"lines[]", kInteger}};
    m["setFunctionBreakpoints"] = {{"breakpoints", kList},
                                   {"breakpoints[]", kObject},
                                   {"breakpoints[].name", kString},
                                   {"breakpoints[].condition?", kString}};
    m["setExceptionBreakpoints"] = {{"filters", kList}, {"filters[]", kString}};
    for (const char* c : {"continue", "next", "stepIn", "stepOut", "pause", "exceptionInfo"}) m[c] = thread;
    m["stackTrace"] = {{"threadId", kInteger}, {"startFrame?", kUinteger}, {"levels?", kUinteger}};
    m["scopes"] = {{"frameId", kInteger}};
    m["variables"] = {{"variablesReference", kInteger}};
    m["setVariable"] = {{"variablesReference", kInteger}, {"name", kString}, {"value", kString}};
    m["evaluate"] = {{"expression", kString}, {"frameId?", kInteger}, {"context?", kString}};
    return m;
  }();
  auto it = shapes.find(command);
  return it == shapes.end() ? nullptr : &it->second;
}

}  // namespace

void read_requests(int fd, Sender& out, Control& c) {
  lsp::Reader in(fd);
  std::string body;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(c.mu);
      if (c.stop) return;
    }
    lsp::Reader::Got got;
    while ((got = in.next(body)) != lsp::Reader::Got::none) {
      if (got == lsp::Reader::Got::bad_frame) {
        out.fail(nullptr, "a message without a usable Content-Length header");
        continue;
      }
      json m = json::parse(body, nullptr, false);
      if (m.is_discarded() || !is_request(m)) {
        // Answered only when it names itself well enough to be answered.
        out.fail(m.is_object() ? m : json(nullptr), m.is_discarded() ? "a message that is not JSON" : "not a request");
        continue;
      }
      std::string cmd = m["command"];
      if (!m.contains("arguments") || m["arguments"].is_null()) m["arguments"] = json::object();
      const json& args = m["arguments"];
      // Here, once for every request, whether the engine's thread or this
      // one answers it: what is queued has its shape.
      std::string misfit;
      if (!args.is_object())
        misfit = "the arguments are not an object";
      else if (const lsp::Shape* shape = shape_of(cmd))
        misfit = lsp::misshapen(args, *shape);
      if (!misfit.empty()) {
        out.fail(m, misfit);
        continue;
      }
      std::lock_guard<std::mutex> lock(c.mu);
      if (cmd == "threads") {
        out.ok(m, {{"threads", json::array({{{"id", 1}, {"name", "program"}}})}});
      } else if (cmd == "pause") {
        out.ok(m);
        if (c.busy) {
          c.pause = true;
          c.interrupt(false);
        }
      } else if (c.busy && cmd == "evaluate" && args.value("context", "") == "repl") {
        // While the program runs, the console's lines are its input.
        c.input.push_back(args["expression"].get<std::string>() + "\n");
        // The console shows every answer on a line of its own: this one
        // says where the line went, rather than leaving an empty line.
        out.ok(m, {{"result", "(input to the program)"}, {"variablesReference", 0}});
        c.cv.notify_all();
      } else {
        if (cmd == "disconnect" || cmd == "terminate") {
          c.quit = true;
          c.interrupt(true);
        } else if (c.busy && c.continuing &&
                   (cmd == "setBreakpoints" || cmd == "setFunctionBreakpoints" ||
                    cmd == "setExceptionBreakpoints")) {
          // Set while the program runs on: stopped, set, and resumed.
          c.silent = true;
          c.interrupt(false);
        }
        c.requests.push_back(std::move(m));
        c.cv.notify_all();
      }
    }
    if (out.failed() || !in.fill(100)) {
      std::lock_guard<std::mutex> lock(c.mu);
      c.closed = true;
      c.interrupt(true);
      c.cv.notify_all();
      return;
    }
  }
}

}  // namespace qv::debug::dap
