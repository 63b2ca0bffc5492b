// The debug adapter: the Debug Adapter Protocol's requests turned into the
// engine's calls and the command interpreter's expressions.  The engine and
// SPIM stay on this (the calling) thread; a second one reads the requests
// (dap_channel.cpp), so that pause, disconnect and the program's input
// arrive while a continue waits for SPIM.
#include "debug/dap.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "debug/commands.h"
#include "debug/dap_channel.h"
#include "debug/engine_names.h"
#include "debug/setup.h"
#include "fatal.h"
#include "run/options.h"
#include "run/program.h"
#include "run/report.h"
#include "spim/process.h"

namespace qv::debug {

namespace {

using dap::json;

constexpr const char* kTool = "quorvelin-debug";

// The interpreter's words are collected for the console's answer; the
// program's output goes out as it is printed.
class ConsoleScreen : public Screen {
 public:
  explicit ConsoleScreen(dap::Sender& out) : out_(out) {}
  void say(std::string_view s) override { said_ += s; }
  void program(std::string_view s) override {
    if (!s.empty()) out_.event("output", {{"category", "stdout"}, {"output", std::string(s)}});
  }
  std::string take() {
    std::string s;
    s.swap(said_);
    return s;
  }

 private:
  dap::Sender& out_;
  std::string said_;
};

// The program's input: `stdinFile` (or `run < FILE` in the console), else
// the lines typed in the debug console while it runs.
class ConsoleInput : public FileOrTyped {
 public:
  ConsoleInput(dap::Sender& out, dap::Control& c) : out_(out), c_(c) {}

 protected:
  Engine::Got typed(std::string& into) override {
    std::unique_lock<std::mutex> lock(c_.mu);
    if (c_.input.empty())
      out_.event("output", {{"category", "console"},
                            {"output", "[the program waits for input: type a line in the debug console]\n"}});
    c_.waiting_input = true;
    c_.cv.wait(lock, [&] { return !c_.input.empty() || c_.pause || c_.silent || c_.quit || c_.closed; });
    c_.waiting_input = false;
    if (c_.input.empty()) return Engine::Got::interrupted;
    into += c_.input.front();
    c_.input.pop_front();
    return Engine::Got::bytes;
  }

 private:
  dap::Sender& out_;
  dap::Control& c_;
};

std::string real(const std::string& path) {
  char buf[PATH_MAX];
  return ::realpath(path.c_str(), buf) ? std::string(buf) : path;
}

std::string dir_of(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

// A word that may well be an address of data or of the stack: the console
// lets it be opened to the words there.
bool looks_like_address(uint32_t v) {
  return (v & 3) == 0 && ((v >= 0x10000000u && v < 0x10400000u) || (v >= 0x7f000000u && v < 0x80000000u));
}

// "12", "-3", "0x1f", "'a'" as a word.
bool parse_value(std::string s, uint32_t& v) {
  s = trim(s);
  if (s.size() == 3 && s.front() == '\'' && s.back() == '\'') {
    v = static_cast<unsigned char>(s[1]);
    return true;
  }
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long n = std::strtoll(s.c_str(), &end, 0);
  if (*end || errno || n < INT32_MIN || n > UINT32_MAX) return false;
  v = static_cast<uint32_t>(n);
  return true;
}

class Session {
 public:
  Session(dap::Sender& out, dap::Control& c, bool may_launch)
      : out_(out), c_(c), screen_(out), input_(out, c), may_launch_(may_launch) {}

  // Serves requests until a disconnect or the end of the client's input.
  void serve() {
    for (;;) {
      json req;
      {
        std::unique_lock<std::mutex> lock(c_.mu);
        c_.cv.wait(lock, [&] { return !c_.requests.empty() || c_.closed; });
        if (c_.requests.empty()) return;
        req = std::move(c_.requests.front());
        c_.requests.pop_front();
      }
      if (!dispatch(req) || out_.failed()) return;
    }
  }

  // Ends SPIM.
  void end_program() {
    d_.reset();
    e_.reset();
  }

 private:
  enum class Ref : uint8_t { locals, registers, memory };
  struct VarRef {
    Ref kind;
    std::size_t frame;
    uint32_t addr;
  };

  bool dispatch(json& req);
  void initialize(const json& req);
  void launch(const json& req);
  void configuration_done(const json& req);
  void set_breakpoints(const json& req);
  void set_function_breakpoints(const json& req);
  void resume(const json& req, const std::string& how);
  void stack_trace(const json& req);
  void scopes(const json& req);
  void variables(const json& req);
  void set_variable(const json& req);
  void evaluate(const json& req);

  // Runs a run-control call of the engine with the program marked as
  // running, and reports how it stopped.
  void drive(std::function<Stop()> op, bool continuing);
  void report(Stop s, bool continuing);
  void stopped(const std::string& reason, json extra = json::object());
  void ended(int status);
  // A launch that fails: the reason is shown to the user and kept in the
  // debug console.
  void refuse(const json& req, const std::string& why) {
    console("quorvelin-debug: " + why + "\n", "stderr");
    out_.fail(req, why, true);
  }
  void console(const std::string& text, const char* category = "console") {
    if (!text.empty()) out_.event("output", {{"category", category}, {"output", text}});
  }

  int line_out(uint32_t l) const { return static_cast<int>(l) - (lines1_ ? 0 : 1); }
  json source_of(int32_t piece, int& line);
  json breakpoint_json(const Breakpoint* b, int32_t piece, bool moved, const std::string& error);
  int32_t place_of(const json& source, int line, std::string& place, std::string& error);
  const std::vector<FrameInfo>& frames();
  int ref(Ref kind, std::size_t frame, uint32_t addr);
  json value_json(const std::string& name, uint32_t v, const std::string& eval, char fmt = 'd');
  bool running() const { return e_ && e_->running(); }
  // Registers, memory and frames can be read (also after a run-time error).
  bool inspectable() const { return e_ && d_ && e_->inspectable(); }
  bool frame_arg(const json& req, std::size_t& k);
  std::string main_label() const;

  dap::Sender& out_;
  dap::Control& c_;
  ConsoleScreen screen_;
  ConsoleInput input_;
  bool may_launch_;
  std::unique_ptr<Loaded> l_;
  std::unique_ptr<Engine> e_;
  std::unique_ptr<Debugger> d_;
  std::vector<std::string> real_srcs_;    // per input file, its real path
  std::vector<std::string> real_marked_;  // per marked source, its real path ("" when not on disk)
  bool lines1_ = true, columns1_ = true;
  bool launched_ = false, configured_ = false, over_ = false;
  bool stop_on_entry_ = false;
  bool exceptions_ = true;
  int entry_bp_ = 0;
  std::map<std::string, std::vector<int>> by_source_;  // breakpoint numbers per source path
  std::vector<int> function_bps_;
  // After a run-time error with a stop: the report and the status the run
  // ends with when it goes on.
  bool at_exception_ = false;
  int exception_status_ = 0;
  std::string exception_text_;
  // What is known at this stop; forgotten at the next resume.
  std::vector<FrameInfo> frames_;
  bool frames_known_ = false;
  std::vector<VarRef> refs_;
};

bool Session::dispatch(json& req) {
  // The reader has held the arguments to their shape (dap_channel.cpp).
  const std::string cmd = req["command"];
  const json& args = req["arguments"];
  try {
    if (cmd == "initialize") {
      initialize(req);
    } else if (cmd == "launch") {
      launch(req);
    } else if (cmd == "attach") {
      out_.fail(req, "quorvelin-debug starts the program itself: use launch");
    } else if (cmd == "disconnect" || cmd == "terminate") {
      end_program();
      if (cmd == "terminate" && launched_ && !over_) {
        over_ = true;
        out_.event("terminated");
      }
      out_.ok(req);
      return cmd != "disconnect";
    } else if (!launched_) {
      out_.fail(req, "no program is loaded: launch one first");
    } else if (cmd == "configurationDone") {
      configuration_done(req);
    } else if (cmd == "setBreakpoints") {
      set_breakpoints(req);
    } else if (cmd == "setFunctionBreakpoints") {
      set_function_breakpoints(req);
    } else if (cmd == "setExceptionBreakpoints") {
      exceptions_ = false;
      json result = json::array();
      for (const json& f : args["filters"]) {
        bool known = f == "runtime";
        exceptions_ = exceptions_ || known;
        result.push_back({{"verified", known}});
      }
      out_.ok(req, {{"breakpoints", result}});
    } else if (cmd == "continue" || cmd == "next" || cmd == "stepIn" || cmd == "stepOut" || cmd == "stepBack" ||
               cmd == "reverseContinue") {
      resume(req, cmd);
    } else if (cmd == "stackTrace") {
      stack_trace(req);
    } else if (cmd == "scopes") {
      scopes(req);
    } else if (cmd == "variables") {
      variables(req);
    } else if (cmd == "setVariable") {
      set_variable(req);
    } else if (cmd == "evaluate") {
      evaluate(req);
    } else if (cmd == "exceptionInfo") {
      if (!at_exception_) {
        out_.fail(req, "the program is not stopped at a run-time error");
      } else {
        std::string first = exception_text_.substr(0, exception_text_.find('\n'));
        out_.ok(req, {{"exceptionId", "run-time error"},
                      {"description", first},
                      {"breakMode", "always"},
                      {"details", {{"message", exception_text_}}}});
      }
    } else {
      out_.fail(req, "unknown request '" + cmd + "'");
    }
  } catch (const json::exception& e) {
    // Not to be: the shape was checked.  Still an answer, not the end of the session.
    out_.fail(req, std::string("bad arguments: ") + e.what());
  }
  return true;
}

void Session::initialize(const json& req) {
  const json& a = req["arguments"];
  lines1_ = a.value("linesStartAt1", true);
  columns1_ = a.value("columnsStartAt1", true);
  out_.ok(req, {{"supportsConfigurationDoneRequest", true},
                {"supportsFunctionBreakpoints", true},
                {"supportsConditionalBreakpoints", true},
                {"supportsHitConditionalBreakpoints", false},
                {"supportsEvaluateForHovers", true},
                {"supportsSetVariable", true},
                {"supportsExceptionInfoRequest", true},
                {"supportsTerminateRequest", true},
                {"supportsRestartRequest", false},
                {"supportsStepBack", true},
                {"supportsLogPoints", false},
                {"supportsDataBreakpoints", false},
                {"exceptionBreakpointFilters",
                 json::array({{{"filter", "runtime"},
                               {"label", "Run-time errors"},
                               {"description", "Stop where the program faults (a null read, a division by zero, ...)"},
                               {"default", true}}})}});
}

void Session::launch(const json& req) {
  if (launched_) {
    refuse(req, "a program is already loaded");
    return;
  }
  const json& a = req["arguments"];
  std::vector<std::string> files;
  if (a.contains("program") && a["program"].is_string())
    files.push_back(a["program"]);
  else if (a.contains("program"))
    for (const json& f : a["program"]) files.push_back(f);
  if (files.empty()) {
    refuse(req, "launch needs 'program': an .ic file, or a list of them forming one program");
    return;
  }
  if (!may_launch_) {
    refuse(req, "this adapter starts no program");
    return;
  }
  std::string spim = a.value("spim", std::string("spim"));
  uint64_t stack = a.value("stack", uint64_t{0});
  if (std::string in = a.value("stdinFile", std::string()); !in.empty()) {
    if (!input_.open(in)) {
      refuse(req, "cannot open the input file (stdinFile) " + in + ": " + std::strerror(errno));
      return;
    }
  }
  std::vector<std::string> args = a.value("args", std::vector<std::string>());
  stop_on_entry_ = a.value("stopOnEntry", false);
  auto l = std::make_unique<Loaded>();
  std::string error;
  if (!run::read_sources(files, l->srcs, error)) {
    refuse(req, error);
    return;
  }
  if (!a.value("noCheck", false)) {
    std::string diags;
    bool bad = run::check_sources(files, l->srcs, stack, kTool, diags);
    console(diags, "stderr");
    if (bad) {
      refuse(req, "the program has errors (the checker's messages are in the debug console)");
      return;
    }
  }
  if (!prepare(spim, stack, args, *l, error)) {
    refuse(req, error);
    return;
  }
  auto e = std::make_unique<Engine>(l->srcs, l->t, l->a);
  e->set_instruction_limit(run::kDefaultMaxInstructions);
  if (!e->start(l->job, error)) {
    refuse(req, error);
    return;
  }
  l_ = std::move(l);
  e_ = std::move(e);
  d_ = std::make_unique<Debugger>(l_->srcs, l_->t, l_->a, *e_, screen_, input_, false);
  for (const run::Source& s : l_->srcs) real_srcs_.push_back(real(s.name));
  // Marked sources are named as the markers write them: beside the file
  // that names them, or from the working directory.
  for (const std::string& m : d_->marked_names()) {
    std::string found;
    for (const run::Source& s : l_->srcs) {
      std::string p = m.starts_with('/') ? m : dir_of(s.name) + m;
      if (::access(p.c_str(), R_OK) == 0) {
        found = real(p);
        break;
      }
    }
    if (found.empty() && ::access(m.c_str(), R_OK) == 0) found = real(m);
    real_marked_.push_back(found);
  }
  launched_ = true;
  out_.ok(req);
  out_.event("initialized");
}

std::string Session::main_label() const {
  // "end 1, Program, Main": the main constructor is the last operand.
  if (l_->t.ends.empty()) return {};
  const run::Piece& p = l_->t.pieces[l_->t.ends.front()];
  std::string_view text = l_->srcs[p.file].line(p.line);
  text = text.substr(0, text.find("//"));
  std::size_t e = text.find_last_not_of(" \t\r,");
  if (e == std::string_view::npos) return {};
  std::size_t b = text.find_last_of(" \t,", e);
  return std::string(text.substr(b == std::string_view::npos ? 0 : b + 1, e - (b == std::string_view::npos ? 0 : b + 1) + 1));
}

void Session::configuration_done(const json& req) {
  if (configured_) {
    out_.fail(req, "the program runs already");
    return;
  }
  configured_ = true;
  out_.ok(req);
  if (stop_on_entry_) {
    bool moved = false;
    std::string error;
    int32_t p = e_->resolve(main_label(), moved, error);
    const Breakpoint* b = p >= 0 ? e_->add_breakpoint(p, true, error) : nullptr;
    if (b) entry_bp_ = b->number;
  }
  input_.rewind();
  drive([this] { return e_->run(); }, true);
}

json Session::source_of(int32_t piece, int& line) {
  // The marked source where there is one on disk, else the input file.
  const run::Piece& p = l_->t.pieces[piece];
  auto [sf, sl] = d_->marked(piece);
  if (sf >= 0 && static_cast<std::size_t>(sf) < real_marked_.size() && !real_marked_[sf].empty()) {
    line = line_out(sl);
    return {{"name", base_name(real_marked_[sf])}, {"path", real_marked_[sf]}};
  }
  line = line_out(p.line);
  return {{"name", base_name(l_->srcs[p.file].name)}, {"path", real_srcs_[p.file]}};
}

int32_t Session::place_of(const json& source, int line, std::string& place, std::string& error) {
  // An input file by its path, or a marked source.
  std::string path = source.value("path", std::string());
  std::string want = path.empty() ? std::string() : real(path);
  uint32_t l = static_cast<uint32_t>(line) + (lines1_ ? 0 : 1);
  for (std::size_t f = 0; f < real_srcs_.size(); f++)
    if (real_srcs_[f] == want) {
      place = l_->srcs[f].name + ":" + std::to_string(l);
      return static_cast<int32_t>(f);
    }
  for (std::size_t f = 0; f < real_marked_.size(); f++)
    if (!real_marked_[f].empty() && real_marked_[f] == want) {
      place = d_->marked_names()[f] + ":" + std::to_string(l);
      return static_cast<int32_t>(f);
    }
  error = "not a file of the program being debugged";
  return -1;
}

json Session::breakpoint_json(const Breakpoint* b, int32_t piece, bool moved, const std::string& error) {
  if (!b) return {{"verified", false}, {"message", error}};
  int line = 0;
  json j = {{"id", b->number}, {"verified", true}, {"source", source_of(piece, line)}};
  j["line"] = line;
  if (moved) j["message"] = "moved to the next line with code";
  return j;
}

void Session::set_breakpoints(const json& req) {
  const json& a = req["arguments"];
  const json& source = a["source"];
  std::string key = real(source.value("path", std::string()));
  for (int n : by_source_[key]) e_->delete_breakpoint(n);
  by_source_[key].clear();
  // A client of the protocol's first versions gives only the lines.
  json list = a.value("breakpoints", json::array());
  if (!a.contains("breakpoints") && a.contains("lines"))
    for (const json& line : a["lines"]) list.push_back({{"line", line}});
  json result = json::array();
  for (const json& bp : list) {
    std::string place, error, cond = bp.value("condition", std::string());
    const Breakpoint* b = nullptr;
    int32_t piece = -1;
    bool moved = false;
    if (place_of(source, bp["line"].get<int>(), place, error) >= 0 && (piece = d_->resolve(place, moved, error)) >= 0) {
      if (std::find(l_->t.ends.begin(), l_->t.ends.end(), static_cast<uint32_t>(piece)) != l_->t.ends.end())
        // Its code runs before the main procedure and after it, never as a
        // line of the program's own.
        error = "the 'end' line only starts the program: set the breakpoint in the main procedure";
      else if (!cond.empty() && trim(cond).find_first_of("=!<>") == std::string::npos)
        error = "write the condition as EXPR OP NUMBER, with ==, !=, <, <=, > or >=";
      else
        b = e_->add_breakpoint(piece, false, error);
    }
    if (b) {
      if (!cond.empty()) e_->set_condition(b->number, trim(cond));
      by_source_[key].push_back(b->number);
    }
    result.push_back(breakpoint_json(b, piece, moved, error));
  }
  out_.ok(req, {{"breakpoints", result}});
}

void Session::set_function_breakpoints(const json& req) {
  const json& a = req["arguments"];
  for (int n : function_bps_) e_->delete_breakpoint(n);
  function_bps_.clear();
  json result = json::array();
  for (const json& bp : a["breakpoints"]) {
    std::string name = bp["name"], error, cond = bp.value("condition", std::string());
    bool moved = false;
    const Breakpoint* b = nullptr;
    int32_t piece = name.empty() ? -1 : e_->resolve(trim(name), moved, error);
    if (name.empty()) error = "a function breakpoint without a name";
    if (piece >= 0) b = e_->add_breakpoint(piece, false, error);
    if (b) {
      if (!cond.empty()) e_->set_condition(b->number, trim(cond));
      function_bps_.push_back(b->number);
    }
    result.push_back(breakpoint_json(b, piece, false, error));
  }
  out_.ok(req, {{"breakpoints", result}});
}

void Session::resume(const json& req, const std::string& how) {
  // Going back works after a run-time error too.
  bool back = how == "stepBack" || how == "reverseContinue";
  if (at_exception_ && !back) {
    // The run-time error ended the run; going on shows the end.
    out_.ok(req, how == "continue" ? json{{"allThreadsContinued", true}} : json(nullptr));
    at_exception_ = false;
    ended(exception_status_);
    return;
  }
  if (!configured_ || !(running() || (back && e_->inspectable()))) {
    out_.fail(req, "the program is not running");
    return;
  }
  at_exception_ = false;
  out_.ok(req, how == "continue" || how == "reverseContinue" ? json{{"allThreadsContinued", true}} : json(nullptr));
  if (how == "continue") drive([this] { return e_->cont(); }, true);
  if (how == "next") drive([this] { return e_->next(); }, false);
  if (how == "stepIn") drive([this] { return e_->step(); }, false);
  if (how == "stepOut") drive([this] { return e_->finish(); }, false);
  // A refusal leaves the program where it stood: it stops there again.
  auto refused = [this](Stop s) {
    if (s != Stop::error || !(e_->running() || e_->inspectable())) return s;
    console(e_->why() + "\n", "stderr");
    return Stop::line;
  };
  if (how == "stepBack") drive([this, refused] { return refused(e_->reverse_next()); }, false);
  if (how == "reverseContinue") drive([this, refused] { return refused(e_->reverse_continue()); }, false);
}

void Session::drive(std::function<Stop()> op, bool continuing) {
  frames_known_ = false;
  refs_.clear();
  d_->forget_frames();
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(c_.mu);
      if (c_.quit || c_.closed) return;
      c_.busy = true;
      c_.continuing = continuing;
      c_.spim = e_->spim_pid();
      c_.engine = e_.get();
      c_.pause = c_.silent = false;
      e_->clear_interrupt();
    }
    Stop s = op();
    bool silent = false, pause = false, quit = false;
    {
      std::lock_guard<std::mutex> lock(c_.mu);
      c_.busy = c_.continuing = false;
      c_.engine = nullptr;
      silent = c_.silent;
      pause = c_.pause;
      quit = c_.quit || c_.closed;
    }
    console(screen_.take());
    if (quit) return;  // the disconnect is next in the queue
    if (s == Stop::interrupted && silent && !pause) {
      // Stopped only to take breakpoints that came while it ran: take every
      // request queued since, then go on.
      std::deque<json> waiting;
      {
        std::lock_guard<std::mutex> lock(c_.mu);
        waiting.swap(c_.requests);
      }
      for (json& r : waiting) {
        const std::string cmd = r["command"];
        if (cmd == "disconnect" || cmd == "terminate") {
          std::lock_guard<std::mutex> lock(c_.mu);
          c_.requests.push_front(std::move(r));
          return;
        }
        dispatch(r);
      }
      op = [this] { return e_->cont(); };
      continuing = true;
      continue;
    }
    report(s, continuing);
    return;
  }
}

void Session::stopped(const std::string& reason, json extra) {
  extra["reason"] = reason;
  extra["threadId"] = 1;
  extra["allThreadsStopped"] = true;
  out_.event("stopped", std::move(extra));
}

void Session::ended(int status) {
  if (over_) return;
  over_ = true;
  out_.event("exited", {{"exitCode", status}});
  out_.event("terminated");
}

void Session::report(Stop s, bool continuing) {
  int32_t piece = e_->piece();
  if (entry_bp_ && s == Stop::breakpoint && e_->hit() == entry_bp_) {
    entry_bp_ = 0;
    stopped("entry");
    return;
  }
  if (entry_bp_ && s != Stop::exited) {
    // Stopped before the entry: the entry stop is off.
    e_->delete_breakpoint(entry_bp_);
    entry_bp_ = 0;
  }
  switch (s) {
    case Stop::line:
      if (continuing) {
        // A continue that ends at no breakpoint: SPIM refused the line, as
        // it does with a label defined nowhere (a program launched with
        // noCheck).  It would refuse it at every continue: the run ends here.
        std::string text = "SPIM cannot run this line: it names a label that is defined nowhere";
        if (piece >= 0) {
          int line = 0;
          source_of(piece, line);
          const run::Piece& p = l_->t.pieces[piece];
          text = "SPIM cannot run line " + std::to_string(line) + " ('" + std::string(trim(l_->srcs[p.file].line(p.line))) +
                 "'): it names a label that is defined nowhere";
        }
        console(text + "\n", "stderr");
        at_exception_ = true;
        exception_status_ = 2;
        exception_text_ = text;
        stopped("exception", {{"description", text}, {"text", text}});
        return;
      }
      stopped("step");
      return;
    case Stop::breakpoint: {
      bool function = std::find(function_bps_.begin(), function_bps_.end(), e_->hit()) != function_bps_.end();
      stopped(function ? "function breakpoint" : "breakpoint", {{"hitBreakpointIds", json::array({e_->hit()})}});
      return;
    }
    case Stop::interrupted:
      stopped("pause");
      return;
    case Stop::limit: {
      std::string msg = "the program was stopped at its limit of " + spim::instructions_text(e_->instruction_limit());
      console("[" + msg + "]\n");
      stopped("pause", {{"description", "Paused: " + msg}});
      return;
    }
    case Stop::input_end:
      console("[the program keeps reading at the end of its input: stopped]\n");
      stopped("pause", {{"description", "Paused: reading at the end of the input"}});
      return;
    case Stop::exited:
      ended(e_->status());
      return;
    case Stop::fault:
    case Stop::overflow: {
      // The runner's report, and the status the runner would give.
      run::Reporter rep(l_->srcs, l_->t, l_->a, "<assembly>");
      run::Options ro;
      spim::Halt ov;
      int status = 2;
      if (s == Stop::fault) {
        status = rep.outcome(e_->fault_run(), ro, run::InputState::unknown);
      } else {
        if (e_->overflow_info(ov)) rep.set_overflow(&ov);
        spim::SpimRun r;
        r.loaded = r.exited = true;
        r.run_err = e_->spim_err();
        rep.outcome(r, ro, run::InputState::unknown);
      }
      check::Diags& d = rep.diags();
      d.trim();
      std::string text;
      for (const check::Diag& one : d.all()) text += d.format(one, false);
      console(text, "stderr");
      (void)piece;
      if (!exceptions_) {
        ended(status);
        return;
      }
      at_exception_ = true;
      exception_status_ = status;
      exception_text_ = text;
      std::string first = d.all().empty() ? "run-time error" : d.all().front().message;
      stopped("exception", {{"description", first}, {"text", first}});
      return;
    }
    case Stop::died:
      console("[SPIM stopped: the program executed a word that is not an instruction?]\n", "stderr");
      ended(2);
      return;
    case Stop::error:
      console("[SPIM did not answer as expected: the session is over]\n", "stderr");
      ended(4);
      return;
  }
}

const std::vector<FrameInfo>& Session::frames() {
  if (!frames_known_) {
    frames_ = inspectable() ? d_->frames() : std::vector<FrameInfo>{};
    frames_known_ = true;
  }
  return frames_;
}

bool Session::frame_arg(const json& req, std::size_t& k) {
  const json& a = req["arguments"];
  int id = a["frameId"].get<int>();
  if (id < 1 || static_cast<std::size_t>(id) > frames().size()) return false;
  k = static_cast<std::size_t>(id - 1);
  return !inspectable() || d_->select(k);
}

void Session::stack_trace(const json& req) {
  const json& a = req["arguments"];
  const std::vector<FrameInfo>& f = frames();
  std::size_t start = a.value("startFrame", 0u), levels = a.value("levels", 0u);
  json list = json::array();
  for (std::size_t k = start; k < f.size() && (!levels || k < start + levels); k++) {
    json frame = {{"id", k + 1},
                  {"name", std::string(f[k].procedure)},
                  {"column", columns1_ ? 1 : 0}};
    if (f[k].piece >= 0) {
      int line = 0;
      frame["source"] = source_of(f[k].piece, line);
      frame["line"] = line;
    } else {
      frame["line"] = 0;
    }
    list.push_back(std::move(frame));
  }
  out_.ok(req, {{"stackFrames", list}, {"totalFrames", f.size()}});
}

int Session::ref(Ref kind, std::size_t frame, uint32_t addr) {
  for (std::size_t i = 0; i < refs_.size(); i++)
    if (refs_[i].kind == kind && refs_[i].frame == frame && refs_[i].addr == addr) return static_cast<int>(i + 1);
  refs_.push_back({kind, frame, addr});
  return static_cast<int>(refs_.size());
}

json Session::value_json(const std::string& name, uint32_t v, const std::string& eval, char fmt) {
  json j = {{"name", name}, {"value", Debugger::format(v, fmt)}, {"evaluateName", eval}, {"variablesReference", 0}};
  if (looks_like_address(v)) j["variablesReference"] = ref(Ref::memory, 0, v);
  return j;
}

void Session::scopes(const json& req) {
  std::size_t k = 0;
  if (!frame_arg(req, k)) {
    out_.fail(req, "no such frame");
    return;
  }
  out_.ok(req, {{"scopes", json::array({{{"name", "Locals"},
                                          {"presentationHint", "locals"},
                                          {"variablesReference", ref(Ref::locals, k, 0)},
                                          {"expensive", false}},
                                         {{"name", "Registers"},
                                          {"presentationHint", "registers"},
                                          {"variablesReference", ref(Ref::registers, k, 0)},
                                          {"expensive", false}}})}});
}

void Session::variables(const json& req) {
  int id = req["arguments"]["variablesReference"].get<int>();
  if (id < 1 || static_cast<std::size_t>(id) > refs_.size()) {
    out_.fail(req, "no such variables (they are forgotten when the program goes on)");
    return;
  }
  VarRef r = refs_[static_cast<std::size_t>(id - 1)];
  json list = json::array();
  if (r.kind == Ref::registers) {
    if (inspectable() && !d_->select(r.frame)) {
      out_.fail(req, "no such frame");
      return;
    }
    for (int k = 0; k <= 14; k++) {
      int n = k < 14 ? 9 + k : 2;
      std::string name = k < 14 ? "r" + std::to_string(k) : "rr";
      uint32_t v = 0;
      bool ok = inspectable() && d_->reg(n, v);
      if (ok)
        list.push_back(value_json(name, v, name));
      else
        list.push_back({{"name", name}, {"value", "?"}, {"variablesReference", 0}});
    }
  } else if (r.kind == Ref::locals) {
    std::vector<Debugger::Slot> slots;
    if (!inspectable()) {
      list.push_back({{"name", "(record)"}, {"value", "the program is not running"}, {"variablesReference", 0}});
    } else if (d_->in_start_up(r.frame)) {
      list.push_back({{"name", "(record)"}, {"value", "none: the start-up code is in no procedure"}, {"variablesReference", 0}});
    } else if (!d_->frame_slots(r.frame, slots)) {
      list.push_back({{"name", "(record)"}, {"value", "not built yet: step once"}, {"variablesReference", 0}});
    } else {
      for (const Debugger::Slot& s : slots) {
        uint32_t v = 0;
        json j = e_->word(s.addr, v) ? value_json(s.name, v, s.name)
                                      : json{{"name", s.name}, {"value", "?"}, {"variablesReference", 0}};
        j["type"] = s.argument ? "argument" : "local";
        list.push_back(std::move(j));
      }
    }
  } else {
    for (uint32_t i = 0; i < 8; i++) {
      uint32_t at = r.addr + 4 * i, v = 0;
      std::string name = spim::hex(at);
      if (e_->word(at, v))
        list.push_back(value_json(name, v, "*" + name));
      else
        list.push_back({{"name", name}, {"value", "?"}, {"variablesReference", 0}});
    }
  }
  out_.ok(req, {{"variables", list}});
}

void Session::set_variable(const json& req) {
  const json& a = req["arguments"];
  int id = a["variablesReference"].get<int>();
  std::string name = a["name"], error;
  uint32_t v = 0;
  if (id < 1 || static_cast<std::size_t>(id) > refs_.size()) {
    out_.fail(req, "no such variables");
    return;
  }
  if (!running()) {
    out_.fail(req, "the program is not running");
    return;
  }
  if (!parse_value(a["value"].get<std::string>(), v)) {
    out_.fail(req, "write a number (12, -3, 0x1f) or a character ('a')");
    return;
  }
  // The pane's names are the interpreter's expressions (rN, rr, var 0, D),
  // or a word's address: where the value lives comes from there.
  VarRef r = refs_[static_cast<std::size_t>(id - 1)];
  std::string expr = r.kind == Ref::memory ? "*" + name : name, err;
  if (!d_->select(r.frame)) {
    out_.fail(req, "no variable " + name);
    return;
  }
  if (!d_->assign(expr, v, err)) {
    out_.fail(req, err);
    return;
  }
  json j = value_json(name, v, name);
  out_.ok(req, {{"value", j["value"]}, {"variablesReference", j["variablesReference"]}});
}

void Session::evaluate(const json& req) {
  const json& a = req["arguments"];
  std::string expr = trim(a["expression"].get<std::string>());
  std::string context = a.value("context", std::string());
  if (a.contains("frameId")) {
    std::size_t k = 0;
    if (!frame_arg(req, k)) {
      out_.fail(req, "no such frame");
      return;
    }
  }
  // print's expressions and formats (/x, /d, /c, /t, /f).
  std::string e, err;
  uint32_t v = 0;
  char fmt = 0;
  if (inspectable() && !expr.empty() && d_->printed(expr, e, v, fmt, err)) {
    json j = value_json(e, v, e, fmt);
    out_.ok(req, {{"result", j["value"]}, {"variablesReference", j["variablesReference"]}});
    return;
  }
  if (context != "repl") {
    out_.fail(req, trim(err.empty() ? "the program is not running" : err));
    return;
  }
  // In the console the terminal debugger's commands work too, but those
  // that move the program: its buttons do that, with their events.
  std::string word = expr.substr(0, expr.find_first_of(" \t/"));
  static constexpr std::string_view kMoving[] = {"run", "r", "continue", "c", "step", "s", "next", "n",
                                                 "finish", "stepi", "si", "quit", "q"};
  for (std::string_view m : kMoving)
    if (word == m) {
      out_.fail(req, "'" + word + "' moves the program: use the debugger's buttons (continue, step over, step into, "
                     "step out)");
      return;
    }
  d_->execute(expr);
  std::string said = screen_.take();
  while (!said.empty() && said.back() == '\n') said.pop_back();
  out_.ok(req, {{"result", said}, {"variablesReference", 0}});
}

}  // namespace

int serve_dap(int in_fd, int out_fd, bool launch) {
  dap::Sender out(out_fd);
  dap::Control c;
  int status = 0;
  {
    Session session(out, c, launch);
    std::thread reader([&] { dap::read_requests(in_fd, out, c); });
    try {
      session.serve();
    } catch (const Fatal& e) {
      (void)write_all(2, std::string("quorvelin-debug: ") + e.what() + "\n");
      status = 1;
    }
    session.end_program();
    {
      std::lock_guard<std::mutex> lock(c.mu);
      c.stop = true;
    }
    reader.join();
  }
  if (out.failed()) {
    (void)write_all(2, "quorvelin-debug: " + out.failure() + "\n");
    return 1;
  }
  return status;
}

}  // namespace qv::debug
