// quorvelin-debug: checks, translates and loads an intermediate program in
// SPIM, and runs it under commands named as gdb names them, stopping and
// stepping at the intermediate-code line.
//
//   quorvelin-debug [--batch] [-x FILE] [--spim PATH] [--stack BYTES] FILE...
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "check/check.h"
#include "debug/commands.h"
#include "debug/dap.h"
#include "debug/engine.h"
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

extern "C" void qv_debug_on_signal(int sig) {
  pid_t pid = g_spim;
  if (sig == SIGINT && g_interactive) {
    if (g_reading_input)
      g_input_interrupted = 1;
    else if (pid > 0 && g_forward)
      ::kill(pid, SIGINT);
    return;
  }
  if (pid > 0) ::kill(pid, SIGKILL);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

constexpr const char* kHelp =
    "Usage: quorvelin-debug [OPTIONS] FILE...\n"
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
    "  --help, --version\n"
    "\n"
    "\n";

struct Options {
  std::vector<std::string> files;
  std::string script;
  std::string input;
  std::string spim = "spim";
  uint64_t stack = 0;
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
    if (a == "--dap") {
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

void tool_error(const std::string& msg) {
  qv::check::Diags d;
  d.file_names = {"quorvelin-debug"};
  d.tool = "quorvelin-debug";
  d.add(qv::check::Severity::error, -1, {}, msg, "");
  d.print(2, false);
}

using qv::debug::trim;

// The program's input: a file (--input, run < FILE), the terminal, or
// nothing (batch mode: the program finds the end of input).
class TermInput : public qv::debug::ProgramInput {
  using Got = qv::debug::Engine::Got;

 public:
  TermInput(std::string& term_buf, bool terminal, qv::Out& out) : term_buf_(term_buf), terminal_(terminal), out_(out) {}
  ~TermInput() override { close(); }
  TermInput(const TermInput&) = delete;
  TermInput& operator=(const TermInput&) = delete;

  bool open(const std::string& path) override {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    close();
    fd_ = fd;
    return true;
  }
  void rewind() override {
    if (fd_ >= 0) ::lseek(fd_, 0, SEEK_SET);
  }
  Got more(std::string& into) override {
    char b[4096];
    if (fd_ >= 0) {
      for (;;) {
        ssize_t r = ::read(fd_, b, sizeof b);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return Got::end;
        into.append(b, static_cast<std::size_t>(r));
        return Got::bytes;
      }
    }
    if (!terminal_) return Got::end;
    // The person at the terminal types the program's line; Ctrl-C stops
    // the program at its reading line instead.
    out_.flush();
    struct Pause {
      sig_atomic_t was = g_forward;
      Pause() {
        g_forward = 0;
        g_input_interrupted = 0;
        g_reading_input = 1;
      }
      ~Pause() {
        g_reading_input = 0;
        g_forward = was;
      }
    } pause;
    for (;;) {
      std::size_t nl = term_buf_.find('\n');
      if (nl != std::string::npos) {
        into.append(term_buf_, 0, nl + 1);
        term_buf_.erase(0, nl + 1);
        return Got::bytes;
      }
      ssize_t r = ::read(0, b, sizeof b);
      if (r < 0 && errno == EINTR) {
        if (g_input_interrupted) return Got::interrupted;
        continue;
      }
      if (r <= 0) return Got::end;
      term_buf_.append(b, static_cast<std::size_t>(r));
    }
  }

 private:
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  std::string& term_buf_;
  bool terminal_;
  qv::Out& out_;
  int fd_ = -1;
};

// The terminal: the debugger's words and the program's output, in order.
class TermScreen : public qv::debug::Screen {
 public:
  explicit TermScreen(qv::Out& out) : out_(out) {}
  void say(std::string_view s) override { out_.raw(s.data(), s.size()); }
  void program(std::string_view s) override {
    out_.raw(s.data(), s.size());
    out_.flush();
  }

 private:
  qv::Out& out_;
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
  if (!qv::debug::prepare(o.spim, o.stack, l, error)) {
    tool_error(error);
    return 4;
  }
  qv::debug::Engine engine(l.srcs, l.t, l.a);
  if (!engine.start(l.job, error)) {
    tool_error(error);
    return 4;
  }
  g_spim = engine.spim_pid();
  g_interactive = !o.batch;
  struct sigaction sa {};
  sa.sa_handler = qv_debug_on_signal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);

  int status = 0;
  try {
    qv::Out out(1, "standard output");
    std::string buf, line, last;
    TermInput input(buf, !o.batch, out);
    if (!o.input.empty() && !input.open(o.input)) {
      tool_error("cannot open " + o.input + ": " + std::strerror(errno));
      return 4;
    }
    TermScreen screen(out);
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
    while (go) {
      if (!o.batch) {
        out.raw("(qvdb) ");
        out.flush();
      }
      if (!read_line(0, buf, line)) break;
      // At a terminal an empty line repeats the last step, next, continue
      // or list.
      if (!o.batch && trim(line).empty()) {
        line = last;
      } else {
        std::string w = trim(line).substr(0, trim(line).find_first_of(" \t"));
        last = (w == "step" || w == "s" || w == "next" || w == "n" || w == "continue" || w == "c" || w == "list" ||
                w == "l")
                   ? w
                   : "";
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
