// quorvelin-debug: checks, translates and loads an intermediate program in
// SPIM, and runs it under commands named as gdb names them, stopping and
// stepping at the intermediate-code line.
//
//   quorvelin-debug [--batch] [-x FILE] [--spim PATH] [--stack BYTES] FILE...
#include <fcntl.h>
#include <poll.h>
#include <histedit.h>
#include <termios.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "check/check.h"
#include "debug/commands.h"
#include "debug/dap.h"
#include "debug/engine_names.h"
#include "debug/setup.h"
#include "emit/marks.h"
#include "emit/out.h"
#include "fatal.h"
#include "run/options.h"
#include "run/program.h"
#include "run/report.h"
#include "spim/fault.h"
#include "spim/process.h"
#include "spim/trap.h"
#include "version.h"

namespace {

using qv::debug::Stop;

// SPIM's process, for the signal handlers (which can reach nothing else):
// Ctrl-C at a terminal is passed on to it; SIGTERM and SIGHUP end it first.
volatile pid_t g_spim = -1;
volatile sig_atomic_t g_interactive = 0;
volatile sig_atomic_t g_forward = 0;  // the program is running: SPIM takes Ctrl-C
volatile sig_atomic_t g_reading_input = 0;      // the program waits for a line typed here
volatile sig_atomic_t g_input_interrupted = 0;  // and Ctrl-C came instead
// The terminal's settings at start, put back if a signal ends the command
// while the line editor has the terminal in its own mode.
struct termios g_term;
volatile sig_atomic_t g_have_term = 0;

// The engine, for Ctrl-C while a command runs the program.
qv::debug::Engine* volatile g_engine = nullptr;

extern "C" void qv_debug_on_signal(int sig) {
  pid_t pid = g_spim;
  if (sig == SIGINT && g_interactive) {
    if (g_reading_input)
      g_input_interrupted = 1;
    else if (g_engine && g_forward)
      g_engine->interrupt();
    return;
  }
  if (pid > 0) ::kill(pid, SIGKILL);
  if (g_have_term) ::tcsetattr(0, TCSANOW, &g_term);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

constexpr const char* kHelp =
    "Usage: quorvelin-debug [OPTIONS] FILE... [-- ARGUMENTS...]\n"
    "Checks, translates and loads an intermediate program in SPIM and runs it\n"
    "under the debugger's commands, read from standard input.\n"
    "\n"
    "  --dap              be a debug adapter (Debug Adapter Protocol) on standard\n"
    "                     input and output; the program comes with `launch`\n"
    "  --batch            no prompt; exit with the program's status (also when\n"
    "                     standard input is not a terminal)\n"
    "  -x FILE            run the commands in FILE first\n"
    "  --input FILE       the program's input (else the terminal; none in batch mode)\n"
    "  --spim PATH        the SPIM to run (default: spim on the PATH)\n"
    "  --stack BYTES      SPIM's stack limit (-lstack)\n"
    "  --max-instructions N\n"
    "                     stop the program once it has executed N instructions\n"
    "                     (default 1000000000)\n"
    "  -- ARGUMENTS...    the program's arguments, as quorvelin-run gives them\n"
    "  --help, --version\n"
    "\n"
    "See quorvelin-debug(1), and quorvelin-ic(5) for the intermediate code.\n"
    "\n";

struct Options {
  std::vector<std::string> files;
  std::vector<std::string> args;  // the program's
  std::string script;
  std::string input;
  std::string spim = "spim";
  uint64_t stack = 0;
  uint64_t max_instructions = qv::run::kDefaultMaxInstructions;
  bool batch = false;
  bool dap = false;
  bool help = false;
  bool version = false;
};

bool parse(int argc, char** argv, Options& o, std::string& error) {
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    auto value = [&](std::string& v) {
      if (i + 1 >= argc) {
        error = "option " + a + " needs a value";
        return false;
      }
      v = argv[++i];
      return true;
    };
    if (a == "--") {
      o.args.assign(argv + i + 1, argv + argc);
      break;
    } else if (a == "--dap") {
      o.dap = true;
    } else if (a == "--batch") {
      o.batch = true;
    } else if (a == "--help") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "-x") {
      if (!value(o.script)) return false;
    } else if (a == "--input") {
      if (!value(o.input)) return false;
    } else if (a == "--spim") {
      if (!value(o.spim)) return false;
    } else if (a == "--stack") {
      std::string v;
      if (!value(v)) return false;
      char* end = nullptr;
      o.stack = std::strtoull(v.c_str(), &end, 10);
      if (v.empty() || *end) {
        error = "--stack wants a number of bytes";
        return false;
      }
    } else if (a == "--max-instructions") {
      std::string v;
      if (!value(v)) return false;
      char* end = nullptr;
      o.max_instructions = std::strtoull(v.c_str(), &end, 10);
      if (v.empty() || *end || v[0] == '-' || o.max_instructions == 0) {
        error = "--max-instructions wants a number of instructions, 1 or more";
        return false;
      }
    } else if (a.size() > 1 && a[0] == '-') {
      error = "unknown option " + a;
      return false;
    } else {
      o.files.push_back(a);
    }
  }
  if (!o.help && !o.version && !o.dap && o.files.empty()) {
    error = "no input files";
    return false;
  }
  return true;
}

void tool_error(const std::string& msg) { qv::check::tool_message("quorvelin-debug", qv::check::Severity::error, msg); }

using qv::debug::trim;

// The terminal: the debugger's words and the program's output, in order.
class TermScreen : public qv::debug::Screen {
 public:
  explicit TermScreen(qv::Out& out) : out_(out) {}
  void say(std::string_view s) override { put(s); }
  void program(std::string_view s) override {
    put(s);
    out_.flush();
  }
  // Whether the cursor stands at the start of a line.
  bool line_start() const { return line_start_; }
  void set_line_start() { line_start_ = true; }
  void put(std::string_view s) {
    if (s.empty()) return;
    out_.raw(s.data(), s.size());
    line_start_ = s.back() == '\n';
  }

 private:
  qv::Out& out_;
  bool line_start_ = true;
};

// The program's input: a file (--input, run < FILE), the terminal, or
// nothing (batch mode: the program finds the end of input).
class TermInput : public qv::debug::FileOrTyped {
  using Got = qv::debug::Engine::Got;

 public:
  TermInput(std::string& term_buf, bool terminal, qv::Out& out, TermScreen& screen)
      : term_buf_(term_buf), terminal_(terminal), out_(out), screen_(screen) {}

 protected:
  Got typed(std::string& into) override {
    char b[4096];
    if (!terminal_) return Got::end;
    // The person at the terminal types the program's line; Ctrl-C stops
    // the program at its reading line instead.  The screen says that the
    // program waits: once in full, then with a mark where the program's
    // own prompt (a line it did not end) does not say it already.
    // Ctrl-C counts as the program's from here on, before the screen shows
    // that it waits; one typed just before stops it too.
    struct Pause {
      sig_atomic_t was = g_forward;
      sigset_t open;  // the signal mask with SIGINT let in
      Pause() {
        g_forward = 0;
        g_input_interrupted = 0;
        g_reading_input = 1;
        sigset_t block;
        sigemptyset(&block);
        sigaddset(&block, SIGINT);
        sigprocmask(SIG_BLOCK, &block, &open);
        sigdelset(&open, SIGINT);
      }
      ~Pause() {
        sigset_t unblock;
        sigemptyset(&unblock);
        sigaddset(&unblock, SIGINT);
        sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
        g_reading_input = 0;
        g_forward = was;
      }
      Pause(const Pause&) = delete;
      Pause& operator=(const Pause&) = delete;
    } pause;
    if (g_engine && g_engine->take_interrupt()) return Got::interrupted;
    if (term_buf_.find('\n') == std::string::npos) {
      if (!hinted_) {
        if (!screen_.line_start()) screen_.put("\n");
        screen_.put("[the program reads its input here: type a line; Ctrl-D ends the input, Ctrl-C stops the program]\n");
        hinted_ = true;
      }
      if (screen_.line_start()) screen_.put("(input) ");
    }
    out_.flush();
    for (;;) {
      std::size_t nl = term_buf_.find('\n');
      if (nl != std::string::npos) {
        into.append(term_buf_, 0, nl + 1);
        term_buf_.erase(0, nl + 1);
        return Got::bytes;
      }
      // Ctrl-C is let in only while waiting, so that one that came just
      // before the wait is seen here rather than lost behind a blocked read.
      if (g_input_interrupted) return Got::interrupted;
      pollfd p{0, POLLIN, 0};
      if (::ppoll(&p, 1, nullptr, &pause.open) < 0) {
        if (errno == EINTR) continue;
        return Got::end;
      }
      ssize_t r = ::read(0, b, sizeof b);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return Got::end;
      term_buf_.append(b, static_cast<std::size_t>(r));
      // What was typed ended the line on the screen (the terminal echoes).
      if (term_buf_.back() == '\n') screen_.set_line_start();
    }
  }

 private:
  std::string& term_buf_;
  bool terminal_;
  qv::Out& out_;
  TermScreen& screen_;
  bool hinted_ = false;
};

// The command line at a terminal: line editing and history from libedit
// (the user's ~/.editrc applies).
class Prompt {
 public:
  Prompt() {
    hist_ = history_init();
    history(hist_, &ev_, H_SETSIZE, 1000);
    history(hist_, &ev_, H_SETUNIQUE, 1);
    el_ = el_init("quorvelin-debug", stdin, stdout, stderr);
    el_set(el_, EL_PROMPT, &Prompt::text);
    el_set(el_, EL_EDITOR, "emacs");
    el_set(el_, EL_HIST, history, hist_);
    el_source(el_, nullptr);
  }
  ~Prompt() {
    el_end(el_);
    history_end(hist_);
  }
  Prompt(const Prompt&) = delete;
  Prompt& operator=(const Prompt&) = delete;

  enum class Read : uint8_t { line, interrupted, end };
  Read get(std::string& line) {
    int n = 0;
    errno = 0;
    const char* s = el_gets(el_, &n);
    if (!s || n <= 0) {
      if (errno == EINTR) {
        // Ctrl-C: the line typed so far is dropped, as in gdb.
        el_reset(el_);
        return Read::interrupted;
      }
      return Read::end;
    }
    line.assign(s, static_cast<std::size_t>(n));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (!trim(line).empty()) history(hist_, &ev_, H_ENTER, line.c_str());
    return Read::line;
  }

 private:
  static const char* text(EditLine*) { return "(qvdb) "; }
  EditLine* el_ = nullptr;
  History* hist_ = nullptr;
  HistEvent ev_{};
};

// Runs one command; while it may run the program, Ctrl-C goes to SPIM.
bool execute(qv::debug::Debugger& d, const std::string& line) {
  struct Forward {
    explicit Forward(qv::debug::Engine& e) : e_(e) {
      g_spim = e_.spim_pid();
      g_forward = 1;
    }
    ~Forward() {
      g_forward = 0;
      g_spim = e_.spim_pid();
      // A Ctrl-C that the command did not need is not kept for the next.
      e_.clear_interrupt();
    }
    qv::debug::Engine& e_;
  } forward(d.engine());
  return d.execute(line);
}

bool read_line(int fd, std::string& buf, std::string& line) {
  for (;;) {
    std::size_t nl = buf.find('\n');
    if (nl != std::string::npos) {
      line = buf.substr(0, nl);
      buf.erase(0, nl + 1);
      return true;
    }
    char b[4096];
    ssize_t r = ::read(fd, b, sizeof b);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      if (buf.empty()) return false;
      line.swap(buf);
      buf.clear();
      return true;
    }
    buf.append(b, static_cast<std::size_t>(r));
  }
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  Options o;
  std::string error;
  if (!parse(argc, argv, o, error)) {
    tool_error(error);
    return 4;
  }
  if (o.help) return qv::write_all(1, std::string(kHelp) + qv::debug::kCommandHelp) ? 0 : 4;
  if (o.version) return qv::write_all(1, std::string("quorvelin-debug ") + QV_VERSION + "\n") ? 0 : 4;
  if (o.dap) return qv::debug::serve_dap(0, 1);
  if (!::isatty(0)) o.batch = true;

  qv::debug::Loaded l;
  if (!qv::run::read_sources(o.files, l.srcs, error)) {
    tool_error(error);
    return 4;
  }
  if (qv::run::check_sources(o.files, l.srcs, o.stack, "quorvelin-debug")) return 1;
  if (!qv::debug::prepare(o.spim, o.stack, o.args, l, error)) {
    tool_error(error);
    return 4;
  }
  qv::debug::Engine engine(l.srcs, l.t, l.a);
  engine.set_instruction_limit(o.max_instructions);
  if (!engine.start(l.job, error)) {
    tool_error(error);
    return 4;
  }
  g_spim = engine.spim_pid();
  engine.set_on_spawn([](pid_t pid) { g_spim = pid; });
  g_engine = &engine;
  g_interactive = !o.batch;
  struct sigaction sa {};
  sa.sa_handler = qv_debug_on_signal;
  sigemptyset(&sa.sa_mask);
  // No SA_RESTART: Ctrl-C at the prompt ends the line being typed.
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE}) sigaction(sig, &sa, nullptr);

  int status = 0;
  try {
    qv::Out out(1, "standard output");
    std::string buf, line, last;
    TermScreen screen(out);
    TermInput input(buf, !o.batch, out, screen);
    if (!o.input.empty() && !input.open(o.input)) {
      tool_error("cannot open " + o.input + ": " + std::strerror(errno));
      return 4;
    }
    qv::debug::Debugger s(l.srcs, l.t, l.a, engine, screen, input, !o.batch && ::isatty(1));
    bool go = true;
    if (!o.script.empty()) {
      int fd = ::open(o.script.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) {
        tool_error("cannot open " + o.script + ": " + std::strerror(errno));
        return 4;
      }
      std::string sbuf;
      while (go && read_line(fd, sbuf, line)) {
        go = execute(s, line);
        out.flush();
      }
      ::close(fd);
    }
    std::unique_ptr<Prompt> prompt;
    if (!o.batch && ::isatty(0)) {
      if (::tcgetattr(0, &g_term) == 0) g_have_term = 1;
      prompt = std::make_unique<Prompt>();
    }
    while (go) {
      if (prompt) {
        out.flush();
        Prompt::Read r = prompt->get(line);
        if (r == Prompt::Read::end) {
          out.raw("quit\n");
          break;
        }
        if (r == Prompt::Read::interrupted) {
          out.raw("Quit\n");
          continue;
        }
      } else {
        if (!o.batch) {
          out.raw("(qvdb) ");
          out.flush();
        }
        if (!read_line(0, buf, line)) break;
      }
      // At a terminal an empty line repeats the last step, next, continue
      // or list.
      if (!o.batch && trim(line).empty()) {
        line = last;
      } else {
        // As in gdb, step, next and continue repeat with their count; list
        // goes on from where it stopped.
        std::string w = trim(line).substr(0, trim(line).find_first_of(" \t"));
        if (w == "list" || w == "l")
          last = w;
        else if (w == "step" || w == "s" || w == "next" || w == "n" || w == "continue" || w == "c" ||
                 w == "reverse-step" || w == "rs" || w == "reverse-next" || w == "rn")
          last = trim(line);
        else
          last.clear();
      }
      go = execute(s, line);
      out.flush();
    }
    out.flush();
    status = s.status();
  } catch (const qv::Fatal& e) {
    tool_error(e.what());
    return 4;
  }
  return o.batch ? status : 0;
}
