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
#include "debug/engine.h"
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

extern "C" void qv_debug_on_signal(int sig) {
  pid_t pid = g_spim;
  if (sig == SIGINT && g_interactive) {
    if (pid > 0 && g_forward) ::kill(pid, SIGINT);
    return;
  }
  if (pid > 0) ::kill(pid, SIGKILL);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

// The library that makes every Ctrl-C reach SPIM (see shim/sigint.cpp):
// named by QV_SIGINT_LIB, beside the command (a build tree) or installed.
std::string find_sigint_lib() {
  auto usable = [](const std::string& p) { return !p.empty() && ::access(p.c_str(), R_OK) == 0; };
  if (const char* e = std::getenv("QV_SIGINT_LIB"); e && usable(e)) return e;
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string dir(self, static_cast<std::size_t>(n));
    dir.erase(dir.rfind('/') + 1);
    if (usable(dir + "libqvsigint.so")) return dir + "libqvsigint.so";
  }
#ifdef QV_SIGINT_LIB_INSTALLED
  if (usable(QV_SIGINT_LIB_INSTALLED)) return QV_SIGINT_LIB_INSTALLED;
#endif
  return {};
}

constexpr const char* kHelp =
    "Usage: quorvelin-debug [OPTIONS] FILE...\n"
    "Checks, translates and loads an intermediate program in SPIM and runs it\n"
    "under the debugger's commands, read from standard input.\n"
    "\n"
    "  --batch            no prompt; exit with the program's status (also when\n"
    "                     standard input is not a terminal)\n"
    "  -x FILE            run the commands in FILE first\n"
    "  --input FILE       the program's input (else the terminal; none in batch mode)\n"
    "  --spim PATH        the SPIM to run (default: spim on the PATH)\n"
    "  --stack BYTES      SPIM's stack limit (-lstack)\n"
    "  --help, --version\n"
    "\n"
    "Commands (help CMD tells more):\n"
    "  break/b LOC [if COND], tbreak LOC, delete/d [N], enable/disable [N],\n"
    "  info breakpoints, run/r [< FILE], continue/c [N], step/s [N], next/n [N],\n"
    "  finish, stepi/si, print/p [/x|/d|/c|/t|/f] EXPR, display [EXPR],\n"
    "  undisplay N, watch EXPR, x/N ADDR, info registers, info frame,\n"
    "  backtrace/bt [N], up/down [N], frame/f [N], list/l [LOC], help, quit/q.\n"
    "LOC is LINE, FILE:LINE or a label; EXPR is rN, rr, $N, $NAME, *ADDR, *rN\n"
    "or var D, N (the word var D, N, rX would address from the selected frame).\n"
    "At a terminal an empty line repeats step, next, continue and list.\n";

struct Options {
  std::vector<std::string> files;
  std::string script;
  std::string input;
  std::string spim = "spim";
  uint64_t stack = 0;
  bool batch = false;
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
    if (a == "--batch") {
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
  if (!o.help && !o.version && o.files.empty()) {
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

std::string trim(std::string_view s) {
  std::size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string_view::npos) return {};
  std::size_t e = s.find_last_not_of(" \t\r");
  return std::string(s.substr(b, e - b + 1));
}

// The program's input: a file (--input, run < FILE), the terminal, or
// nothing (batch mode: the program finds the end of input).
class Input {
 public:
  Input(std::string& term_buf, bool terminal) : term_buf_(term_buf), terminal_(terminal) {}
  ~Input() { close(); }
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  bool open(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    close();
    fd_ = fd;
    path_ = path;
    return true;
  }
  // A new run reads the file from its start again.
  void rewind() {
    if (fd_ >= 0) ::lseek(fd_, 0, SEEK_SET);
  }
  // Appends the next bytes; false at the end.
  bool more(std::string& into, qv::Out& out) {
    char b[4096];
    if (fd_ >= 0) {
      for (;;) {
        ssize_t r = ::read(fd_, b, sizeof b);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        into.append(b, static_cast<std::size_t>(r));
        return true;
      }
    }
    if (!terminal_) return false;
    // The person at the terminal types the program's line (Ctrl-C is not
    // for SPIM meanwhile: it waits for a command).
    out.flush();
    struct Pause {
      sig_atomic_t was = g_forward;
      Pause() { g_forward = 0; }
      ~Pause() { g_forward = was; }
    } pause;
    for (;;) {
      std::size_t nl = term_buf_.find('\n');
      if (nl != std::string::npos) {
        into.append(term_buf_, 0, nl + 1);
        term_buf_.erase(0, nl + 1);
        return true;
      }
      ssize_t r = ::read(0, b, sizeof b);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;
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
  int fd_ = -1;
  std::string path_;
};

// One debugging session: the program, the engine and what is shown.
class Session {
 public:
  Session(const std::vector<qv::run::Source>& srcs, const qv::run::Translation& t, const qv::MarkedAssembly& a,
          qv::debug::Engine& e, qv::Out& out, Input& input)
      : srcs_(srcs), t_(t), a_(a), e_(e), o_(out), input_(input) {
    place_markers();
    e_.set_input([this](std::string& more) { return input_.more(more, o_); });
    e_.set_condition_check([this](const qv::debug::Breakpoint& b) {
      std::string err;
      bool holds = condition_holds(b.condition, err);
      if (!err.empty()) say("Error in the condition of breakpoint " + std::to_string(b.number) + ": " + err);
      return holds || !err.empty();
    });
    // The program's output is shown as it comes.
    e_.set_output([this](std::string_view s) {
      if (s.empty()) return;
      o_.raw(s);
      o_.flush();
      ended_line_ = s.back() == '\n';
    });
  }

  // Runs one command line; false at quit.
  bool execute(const std::string& line);
  int status() const { return status_; }

 private:
  void say(std::string_view s) { o_.raw(s); }
  std::string where(int32_t piece) const;
  void place_markers();
  int32_t resolve(std::string_view place, bool& moved, std::string& error) const;
  void show_line(int32_t piece);
  void show_stop(Stop s, bool announce_procedure);
  void print_expr(std::string_view arg);
  void show_displays();
  void examine(std::string_view arg);
  void stepi();
  // continue with watchpoints: line by line until a value changes.
  Stop watch_continue();
  // The value of a print expression; `a` becomes its shown name.
  bool value_of(std::string& a, uint32_t& v, std::string& err);
  // Whether "EXPR OP NUMBER" holds now.
  bool condition_holds(const std::string& cond, std::string& err);
  void info_registers();
  void backtrace(std::size_t limit);
  void info_frame();
  void list(std::string_view arg);
  void select_frame(long k, bool relative);
  // Register $n as frame `selected_` sees it: live in frame 0, else saved
  // on entry by the procedure it called.
  bool reg(int n, uint32_t& v);
  int32_t local_count(int32_t entry_piece) const;
  int32_t argument_count(int32_t entry_piece) const;
  bool returns_value(int32_t entry_piece) const;
  int32_t entry_of(int32_t piece) const;

  const std::vector<qv::run::Source>& srcs_;
  const qv::run::Translation& t_;
  const qv::MarkedAssembly& a_;
  qv::debug::Engine& e_;
  qv::Out& o_;
  Input& input_;
  std::vector<std::pair<int32_t, uint32_t>> piece_src_;  // per piece: marked source and line
  std::vector<std::string> src_names_;                   // the marked sources
  bool ended_line_ = true;
  struct Shown {
    int number;
    std::string expr;
    bool watch;        // a watchpoint: stop when its value changes
    bool known = false;
    uint32_t value = 0;
  };
  std::vector<Shown> shown_;  // display and watch expressions, numbered with the breakpoints
  int next_shown_ = 1;
  int status_ = 0;
  std::size_t selected_ = 0;
  std::vector<qv::debug::FrameInfo> frames_;  // as of the last stop, when asked for
  bool frames_known_ = false;
  void know_frames() {
    if (frames_known_) return;
    frames_ = e_.backtrace();
    frames_known_ = true;
  }
  int32_t listed_ = -1;  // the piece the last list was about, -1: none
  uint32_t listed_end_ = 0;  // the last line it showed
  std::string_view shown_proc_;
  bool shown_any_ = false;
};

namespace {

std::string base_name(std::string n) {
  std::size_t slash = n.rfind('/');
  if (slash != std::string::npos) n.erase(0, slash + 1);
  return n;
}

}  // namespace

void Session::place_markers() {
  // Per piece, the place a line marker ("//#line N FILE") gives its line.
  piece_src_.assign(t_.pieces.size(), {-1, 0});
  std::size_t k = 0;
  for (uint32_t f = 0; f < srcs_.size(); f++) {
    qv::check::MarkerTrack marks;
    for (uint32_t l = 1; l <= srcs_[f].lines(); l++) {
      for (; k < t_.pieces.size() && t_.pieces[k].file == f && t_.pieces[k].line == l; k++) {
        qv::check::Loc loc;
        loc.file = f;
        loc.line = l;
        marks.place(loc);
        piece_src_[k] = {loc.src_file, loc.src_line};
      }
      marks.see(srcs_[f].line(l), l, srcs_[f].name, src_names_);
    }
    for (; k < t_.pieces.size() && t_.pieces[k].file == f; k++) piece_src_[k] = piece_src_[k ? k - 1 : 0];
  }
}

std::string Session::where(int32_t piece) const {
  if (piece < 0) return "?";
  const qv::run::Piece& p = t_.pieces[piece];
  std::string at = base_name(srcs_[p.file].name) + ":" + std::to_string(p.line);
  // The marked source first.
  const auto& [sf, sl] = piece_src_[piece];
  if (sf >= 0) return base_name(src_names_[sf]) + ":" + std::to_string(sl) + " (" + at + ")";
  return at;
}

int32_t Session::resolve(std::string_view place, bool& moved, std::string& error) const {
  // A line of a marked source: the first line of code at or after it.
  std::size_t colon = place.rfind(':');
  if (colon != std::string_view::npos && colon + 1 < place.size() &&
      place.find_first_not_of("0123456789", colon + 1) == std::string_view::npos) {
    std::string name(place.substr(0, colon));
    uint32_t line = static_cast<uint32_t>(std::strtoul(std::string(place.substr(colon + 1)).c_str(), nullptr, 10));
    for (std::size_t f = 0; f < src_names_.size(); f++) {
      if (src_names_[f] != name && base_name(src_names_[f]) != name) continue;
      for (std::size_t p = 0; p < t_.pieces.size(); p++)
        if (piece_src_[p].first == static_cast<int32_t>(f) && piece_src_[p].second >= line && e_.has_code(static_cast<int32_t>(p))) {
          moved = piece_src_[p].second != line;
          return static_cast<int32_t>(p);
        }
      error = "no code at or after line " + std::to_string(line) + " of " + name;
      return -1;
    }
  }
  return e_.resolve(place, moved, error);
}

void Session::show_line(int32_t piece) {
  if (piece < 0) return;
  const qv::run::Piece& p = t_.pieces[piece];
  say(std::to_string(p.line) + "\t" + std::string(srcs_[p.file].line(p.line)) + "\n");
}

void Session::show_stop(Stop s, bool announce_procedure) {
  selected_ = 0;
  frames_known_ = false;
  listed_ = -1;
  // What the program printed last did not end its line.
  if (!ended_line_) say("\n");
  ended_line_ = true;
  int32_t piece = e_.piece();
  std::string_view proc = e_.procedure_of(piece);
  switch (s) {
    case Stop::breakpoint:
      say(std::string(e_.hit_temporary() ? "\nTemporary breakpoint " : "\nBreakpoint ") + std::to_string(e_.hit()) + ", " + std::string(proc) + " at " + where(piece) + "\n");
      show_line(piece);
      break;
    case Stop::line:
      if (announce_procedure || proc != shown_proc_ || !shown_any_) say(std::string(proc) + " at " + where(piece) + "\n");
      show_line(piece);
      break;
    case Stop::exited:
      status_ = e_.status();
      say(status_ ? "[program exited with status " + std::to_string(status_) + "]\n" : "[program exited normally]\n");
      return;
    case Stop::fault: {
      o_.flush();
      qv::run::Reporter rep(srcs_, t_, a_, "<assembly>");
      qv::run::Options ro;
      status_ = rep.outcome(e_.fault_run(), ro, qv::run::InputState::unknown);
      rep.diags().print(1, false);
      say("[program stopped by a run-time error]\n");
      return;
    }
    case Stop::overflow: {
      // The runner's report, from the frames SPIM still holds.
      status_ = 2;
      o_.flush();
      qv::spim::Overflow ov;
      qv::run::Reporter rep(srcs_, t_, a_, "<assembly>");
      if (e_.overflow_info(ov)) rep.set_overflow(&ov);
      qv::spim::SpimRun r;
      r.loaded = r.exited = true;
      r.run_err = e_.spim_err();
      qv::run::Options ro;
      rep.outcome(r, ro, qv::run::InputState::unknown);
      rep.diags().print(1, false);
      say("[program stopped by a stack overflow]\n");
      return;
    }
    case Stop::died:
      status_ = 2;
      say("[SPIM stopped: the program executed a word that is not an instruction?]\n");
      return;
    case Stop::error:
      say("The program is not being run.\n");
      return;
    case Stop::interrupted:
      say("\nProgram interrupted.\n");
      say(std::string(proc) + " at " + where(piece) + "\n");
      show_line(piece);
      break;
    case Stop::input_end:
      say("[the program keeps reading at the end of its input: stopped]\n");
      say(std::string(proc) + " at " + where(piece) + "\n");
      show_line(piece);
      break;
  }
  shown_proc_ = proc;
  shown_any_ = true;
  show_displays();
}

void Session::show_displays() {
  for (Shown& d : shown_) {
    if (d.watch) continue;
    std::string a = d.expr;
    uint32_t v = 0;
    std::string err;
    if (value_of(a, v, err))
      say(std::to_string(d.number) + ": " + a + " = " + std::to_string(static_cast<int32_t>(v)) + "\n");
    else
      say(std::to_string(d.number) + ": " + d.expr + ": " + err);
  }
}

void Session::examine(std::string_view arg) {
  // x/N ADDR: N words from ADDR (a number, rN or rr).
  std::string a = trim(arg);
  uint32_t count = 1;
  if (!a.empty() && a[0] == '/') {
    char* end = nullptr;
    count = static_cast<uint32_t>(std::strtoul(a.c_str() + 1, &end, 10));
    if (count == 0 || count > 4096) count = 1;
    a = trim(end);
  }
  uint32_t addr = 0;
  std::string err;
  std::string name = a;
  if (a.empty() || (!value_of(name, addr, err) && (err.clear(), true) &&
                    (addr = static_cast<uint32_t>(std::strtoul(a.c_str(), nullptr, 0))) == 0 && a != "0")) {
    say("Write x/N ADDR, with ADDR a number or a register.\n");
    return;
  }
  addr &= ~3u;
  for (uint32_t i = 0; i < count; i++) {
    if (i % 4 == 0) {
      if (i) say("\n");
      say(qv::spim::hex(addr + 4 * i));
      say(":");
    }
    uint32_t v = 0;
    if (!e_.word(addr + 4 * i, v)) {
      say("\tCannot read the word at ");
      say(qv::spim::hex(addr + 4 * i));
      say(".\n");
      return;
    }
    say("\t");
    say(qv::spim::hex(v));
  }
  say("\n");
}

void Session::stepi() {
  int32_t before = e_.piece();
  Stop s = e_.stepi();
  // SPIM's line: "[0x00400024]\t0x8fa40000  lw $4, 0($29)   ; 183: ..." where
  // 183 is the line of the assembly it loaded; shown with the translation's.
  std::string l = e_.last_step();
  std::size_t semi = l.find("; ");
  std::string text = trim(std::string_view(l).substr(0, semi == std::string::npos ? l.size() : semi));
  if (semi != std::string::npos) {
    long n = std::strtol(l.c_str() + semi + 2, nullptr, 10);
    if (n >= 1 && static_cast<std::size_t>(n) <= a_.run_to_plain.size() && a_.run_to_plain[n - 1] >= 0)
      text += "\t; <assembly>:" + std::to_string(a_.run_to_plain[n - 1] + 1);
  }
  if (!text.empty()) say(text + "\n");
  if (s == Stop::line && e_.piece() == before && !e_.at_breakpoint()) {
    show_displays();
    return;
  }
  show_stop(s, false);
}

Stop Session::watch_continue() {
  for (Shown& w : shown_)
    if (w.watch) {
      std::string a = w.expr, err;
      w.known = value_of(a, w.value, err);
    }
  for (;;) {
    Stop s = e_.step();
    if (s != Stop::line) return s;
    for (Shown& w : shown_) {
      if (!w.watch) continue;
      std::string a = w.expr, err;
      uint32_t v = 0;
      bool known = value_of(a, v, err);
      if (known && (!w.known || v != w.value)) {
        if (!ended_line_) say("\n");
        ended_line_ = true;
        say("\nWatchpoint " + std::to_string(w.number) + ": " + a + "\n");
        if (w.known) say("Old value = " + std::to_string(static_cast<int32_t>(w.value)) + "\n");
        say("New value = " + std::to_string(static_cast<int32_t>(v)) + "\n");
        w.value = v;
        w.known = true;
        return Stop::line;
      }
    }
    if (e_.at_breakpoint() && e_.take_hit()) return Stop::breakpoint;
  }
}

bool Session::value_of(std::string& a, uint32_t& v, std::string& err) {
  bool ok = false;
  auto reg_of = [](const std::string& r, int& n) {
    if (r == "rr") {
      n = 2;
      return true;
    }
    if (r.size() >= 2 && r[0] == 'r' && r.find_first_not_of("0123456789", 1) == std::string::npos && r.size() <= 3) {
      int k = std::atoi(r.c_str() + 1);
      if (k > 13) return false;
      n = 9 + k;
      return true;
    }
    if (r.size() >= 2 && r[0] == '$' && r.find_first_not_of("0123456789", 1) == std::string::npos && r.size() <= 3) {
      n = std::atoi(r.c_str() + 1);
      return n < 32;
    }
    // MIPS names: $v0, $a0, $t0, $sp, $fp, $ra, ...
    static constexpr std::string_view kNames[32] = {"zero", "at", "v0", "v1", "a0", "a1", "a2", "a3",
                                                     "t0",   "t1", "t2", "t3", "t4", "t5", "t6", "t7",
                                                     "s0",   "s1", "s2", "s3", "s4", "s5", "s6", "s7",
                                                     "t8",   "t9", "k0", "k1", "gp", "sp", "fp", "ra"};
    for (int k = 0; k < 32 && r.size() > 1 && r[0] == '$'; k++)
      if (std::string_view(r).substr(1) == kNames[k]) {
        n = k;
        return true;
      }
    return false;
  };
  int n = 0;
  if (!a.empty() && a[0] == '*') {
    std::string inner = trim(std::string_view(a).substr(1));
    uint32_t addr = 0;
    if (reg_of(inner, n)) {
      ok = reg(n, addr);
    } else {
      char* end = nullptr;
      addr = static_cast<uint32_t>(std::strtoul(inner.c_str(), &end, 0));
      ok = !inner.empty() && !*end;
    }
    if (!ok) {
      err = "Cannot read " + inner + ".\n";
      return false;
    }
    if (!e_.word(addr, v)) {
      err = "Cannot read the word at " + qv::spim::hex(addr) + ".\n";
      return false;
    }
  } else if (a.rfind("var", 0) == 0 && a.size() > 3 && (a[3] == ' ' || a[3] == '\t')) {
    // The word "var D, N, rX" would address from the selected frame.
    std::string rest = a.substr(4);
    for (char& c : rest)
      if (c == ',') c = ' ';
    char* end = nullptr;
    long d = std::strtol(rest.c_str(), &end, 10);
    char* end2 = nullptr;
    long k = std::strtol(end, &end2, 10);
    if (end == rest.c_str() || end2 == end || d < 0 || trim(end2) != "") {
      err = "Write a variable as the program does: var D, N.\n";
      return false;
    }
    know_frames();
    if (selected_ >= frames_.size() || (selected_ == 0 && entry_of(e_.piece()) == e_.piece())) {
      err = "The procedure's record is not built yet: step once.\n";
      return false;
    }
    uint32_t link = frames_[selected_].fp + 8;
    for (long i = 0; i < d; i++)
      if (!e_.word(link, link)) {
        err = "Cannot follow the static links.\n";
        return false;
      }
    uint32_t addr = link - 4 * static_cast<uint32_t>(k + 1);
    if (!e_.word(addr, v)) {
      err = "Cannot read the word at " + qv::spim::hex(addr) + ".\n";
      return false;
    }
    a = "var " + std::to_string(d) + ", " + std::to_string(k);
  } else if (reg_of(a, n)) {
    if (!reg(n, v)) {
      err = "Cannot read " + a + ".\n";
      return false;
    }
  } else {
    err = "No symbol \"" + a + "\": write rN, rr, $N, *ADDR or *rN.\n";
    return false;
  }
  return true;
}

void Session::print_expr(std::string_view arg) {
  std::string a = trim(arg);
  char fmt = 'd';
  if (a.size() >= 2 && a[0] == '/') {
    fmt = a[1];
    a = trim(std::string_view(a).substr(2));
  }
  uint32_t v = 0;
  std::string err;
  if (!value_of(a, v, err)) {
    say(err);
    return;
  }
  char b[40];
  if (fmt == 'x')
    std::snprintf(b, sizeof b, "0x%08x", v);
  else if (fmt == 't') {
    std::string bits;
    for (int i = 31; i >= 0; i--)
      if (!bits.empty() || (v >> i) & 1 || i == 0) bits.push_back((v >> i) & 1 ? '1' : '0');
    std::snprintf(b, sizeof b, "%s", bits.c_str());
  } else if (fmt == 'f') {
    float f;
    std::memcpy(&f, &v, sizeof f);
    std::snprintf(b, sizeof b, "%g", static_cast<double>(f));
  } else if (fmt == 'c' && v >= 32 && v < 127)
    std::snprintf(b, sizeof b, "%d '%c'", static_cast<int>(v), static_cast<char>(v));
  else if (fmt == 'c')
    std::snprintf(b, sizeof b, "%d '\\%03o'", static_cast<int>(v), static_cast<unsigned>(v & 255));
  else
    std::snprintf(b, sizeof b, "%d", static_cast<int32_t>(v));
  say(a + " = " + b + "\n");
}

void Session::info_registers() {
  static constexpr const char* kNames[] = {"t1", "t2", "t3", "t4", "t5", "t6", "t7",
                                           "s0", "s1", "s2", "s3", "s4", "s5", "s6"};
  for (int k = 0; k <= 14; k++) {
    int n = k < 14 ? 9 + k : 2;
    uint32_t v = 0;
    if (!e_.reg(n, v)) {
      say("The program is not being run.\n");
      return;
    }
    char name[8], b[96];
    if (k < 14)
      std::snprintf(name, sizeof name, "r%d", k);
    else
      std::snprintf(name, sizeof name, "rr");
    std::snprintf(b, sizeof b, "%-4s $%-2d %-3s 0x%08x  %d\n", name, n, k < 14 ? kNames[k] : "v0", v,
                  static_cast<int32_t>(v));
    say(b);
  }
}

void Session::backtrace(std::size_t limit) {
  std::vector<qv::debug::FrameInfo> f = e_.backtrace(limit);
  if (f.empty()) {
    say("No stack.\n");
    return;
  }
  for (std::size_t i = 0; i < f.size(); i++) {
    std::string l = "#";
    l += std::to_string(i);
    l += "  ";
    l += f[i].procedure;
    l += " at ";
    l += where(f[i].piece);
    l += "\n";
    say(l);
  }
}

bool Session::condition_holds(const std::string& cond, std::string& err) {
  static constexpr std::string_view kOps[] = {"==", "!=", "<=", ">=", "<", ">"};
  for (std::string_view op : kOps) {
    std::size_t at = cond.find(op);
    if (at == std::string::npos) continue;
    std::string lhs = trim(std::string_view(cond).substr(0, at));
    std::string rhs = trim(std::string_view(cond).substr(at + op.size()));
    char* end = nullptr;
    long long want = std::strtoll(rhs.c_str(), &end, 0);
    if (rhs.empty() || *end) {
      err = "the right side is not a number\n";
      return false;
    }
    uint32_t v = 0;
    if (!value_of(lhs, v, err)) return false;
    long long have = static_cast<int32_t>(v);
    if (op == "==") return have == want;
    if (op == "!=") return have != want;
    if (op == "<=") return have <= want;
    if (op == ">=") return have >= want;
    if (op == "<") return have < want;
    return have > want;
  }
  err = "write EXPR OP NUMBER, with ==, !=, <, <=, > or >=\n";
  return false;
}

bool Session::reg(int n, uint32_t& v) {
  if (selected_ == 0) return e_.reg(n, v);
  know_frames();
  // The callee's record holds $9..$22 as they were at the call; a callee
  // stopped before its entry code ran built no record.
  const qv::debug::FrameInfo& callee = frames_[selected_ - 1];
  if (n < 9 || n > 22 || callee.fp == frames_[selected_].fp) return e_.reg(n, v);
  return e_.word(callee.fp + 64 - 4 * static_cast<uint32_t>(n - 9), v);
}

int32_t Session::entry_of(int32_t piece) const {
  int32_t entry = -1;
  for (const auto& [idx, name] : t_.entries)
    if (static_cast<int32_t>(idx) <= piece) entry = static_cast<int32_t>(idx);
  return entry;
}

namespace {

// The last operand of a line, as a number (-1: none).
int32_t last_number(std::string_view text) {
  text = text.substr(0, text.find("//"));
  std::size_t e = text.find_last_of("0123456789");
  if (e == std::string_view::npos) return -1;
  std::size_t b = text.find_last_not_of("0123456789", e);
  b = b == std::string_view::npos ? 0 : b + 1;
  if (b > 0 && text[b - 1] != ' ' && text[b - 1] != '\t' && text[b - 1] != ',') return -1;
  return static_cast<int32_t>(std::strtol(std::string(text.substr(b, e - b + 1)).c_str(), nullptr, 10));
}

}  // namespace

int32_t Session::local_count(int32_t entry) const {
  if (entry < 0) return 0;
  const qv::run::Piece& p = t_.pieces[entry];
  return std::max(0, last_number(srcs_[p.file].line(p.line)));
}

bool Session::returns_value(int32_t entry) const {
  // Its first return names a register: "rtn rX, N".
  for (std::size_t k = static_cast<std::size_t>(entry) + 1; entry >= 0 && k < t_.pieces.size(); k++) {
    const qv::run::Piece& p = t_.pieces[k];
    std::string_view text = srcs_[p.file].line(p.line);
    if (qv::spim::mnemonic(text) == "ntr") break;
    if (qv::spim::mnemonic(text) != "rtn") continue;
    std::size_t op = text.find("rtn") + 3;
    op = text.find_first_not_of(" \t", op);
    return op != std::string_view::npos && (text[op] == 'r' || text[op] == 'f' || text[op] == '$');
  }
  return false;
}

int32_t Session::argument_count(int32_t entry) const {
  // What the procedure's first return takes off the stack.
  for (std::size_t k = static_cast<std::size_t>(entry) + 1; entry >= 0 && k < t_.pieces.size(); k++) {
    const qv::run::Piece& p = t_.pieces[k];
    std::string_view text = srcs_[p.file].line(p.line);
    if (qv::spim::mnemonic(text) == "ntr") break;
    if (qv::spim::mnemonic(text) == "rtn") return std::max(0, last_number(text));
  }
  return 0;
}

void Session::select_frame(long k, bool relative) {
  if (!e_.running()) {
    say("No stack.\n");
    return;
  }
  know_frames();
  if (k < 0 || static_cast<std::size_t>(k) >= frames_.size()) {
    if (!relative)
      say("No frame at level " + std::to_string(k) + ".\n");
    else
      say(k < 0 ? "Bottom (innermost) frame selected; you cannot go down.\n"
                : "Initial frame selected; you cannot go up.\n");
    return;
  }
  selected_ = static_cast<std::size_t>(k);
  const qv::debug::FrameInfo& f = frames_[selected_];
  say("#" + std::to_string(selected_) + "  " + std::string(f.procedure) + " at " + where(f.piece) + "\n");
  show_line(f.piece);
}

void Session::info_frame() {
  if (!e_.running()) {
    say("No stack.\n");
    return;
  }
  know_frames();
  const qv::debug::FrameInfo& f = frames_[selected_];
  say("Frame #" + std::to_string(selected_) + ": " + std::string(f.procedure) + " at " + where(f.piece) + "\n");
  if (selected_ + 1 < frames_.size())
    say(" called from " + where(frames_[selected_ + 1].piece) + " (in " + std::string(frames_[selected_ + 1].procedure) +
        ")\n");
  int32_t entry = entry_of(f.piece);
  if (selected_ == 0 && entry == e_.piece()) {
    say(" its record is not built yet (the entry code has not run)\n");
    return;
  }
  uint32_t link = 0, saved = 0, ret = 0;
  if (!e_.word(f.fp + 8, link) || !e_.word(f.fp, saved) || !e_.word(f.fp + 4, ret)) {
    say(" its record cannot be read\n");
    return;
  }
  say(" frame pointer " + qv::spim::hex(f.fp) + ", static link " + qv::spim::hex(link) + ", saved frame pointer " +
      qv::spim::hex(saved) + ", return address " + qv::spim::hex(ret) + "\n");
  // Displacement d of this record lies at fp + 4 - 4d.
  auto show = [&](const char* what, int32_t d) {
    uint32_t v = 0;
    uint32_t addr = f.fp + 4 - 4 * static_cast<uint32_t>(d);
    std::string val = e_.word(addr, v) ? std::to_string(static_cast<int32_t>(v)) : "?";
    say(std::string(" ") + what + " var 0, " + std::to_string(d) + " = " + val + "\n");
  };
  for (int32_t i = 1; i <= local_count(entry); i++) show("local", i + 1);
  for (int32_t k = 1; k <= argument_count(entry); k++) show("argument", -15 - k);
}

void Session::list(std::string_view arg) {
  int32_t piece = -1;
  if (!arg.empty()) {
    bool moved = false;
    std::string error;
    piece = resolve(arg, moved, error);
    if (piece < 0) {
      say(error + ".\n");
      return;
    }
  } else if (listed_ >= 0) {
    piece = listed_;
  } else {
    piece = e_.running() ? (frames_known_ ? frames_[selected_].piece : e_.piece()) : -1;
  }
  uint32_t file = piece >= 0 ? t_.pieces[piece].file : 0;
  uint32_t center = piece >= 0 ? t_.pieces[piece].line : 1;
  uint32_t from = listed_ >= 0 && arg.empty() ? center + 1 : (center > 5 ? center - 5 : 1);
  if (listed_ >= 0 && arg.empty()) from = static_cast<uint32_t>(listed_end_) + 1;
  uint32_t to = std::min(srcs_[file].lines(), from + 9);
  if (from > to) {
    say("Line number " + std::to_string(from) + " out of range; \"" + srcs_[file].name + "\" has " +
        std::to_string(srcs_[file].lines()) + " lines.\n");
    return;
  }
  // The selected frame's line is marked.
  int32_t at = !e_.running() ? -1 : frames_known_ ? frames_[selected_].piece : e_.piece();
  uint32_t current = at >= 0 && t_.pieces[at].file == file ? t_.pieces[at].line : 0;
  for (uint32_t l = from; l <= to; l++)
    say(std::string(l == current ? "=> " : "   ") + std::to_string(l) + "\t" + std::string(srcs_[file].line(l)) + "\n");
  listed_ = piece >= 0 ? piece : 0;
  listed_end_ = to;
}

bool Session::execute(const std::string& line) {
  // While a command may run the program, Ctrl-C goes to SPIM.
  struct Forward {
    Forward(qv::debug::Engine& e) : e_(e) {}
    ~Forward() {
      g_forward = 0;
      g_spim = e_.spim_pid();
    }
    qv::debug::Engine& e_;
  } forward(e_);
  g_spim = e_.spim_pid();
  g_forward = 1;
  std::string l = trim(line);
  if (l.empty() || l[0] == '#') return true;
  std::size_t sp = l.find_first_of(" \t/");
  std::string cmd = l.substr(0, sp);
  std::string arg = sp == std::string::npos ? "" : trim(std::string_view(l).substr(sp));
  auto count = [&]() {
    int n = arg.empty() ? 1 : std::atoi(arg.c_str());
    return n < 1 ? 1 : n;
  };
  auto need_run = [&]() {
    if (e_.running()) return true;
    say("The program is not being run.\n");
    return false;
  };
  if (cmd == "quit" || cmd == "q") return false;
  if (cmd == "break" || cmd == "b" || cmd == "tbreak") {
    if (arg.empty()) {
      say("Argument required (a line, FILE:LINE or a label).\n");
      return true;
    }
    bool moved = false;
    std::string error, cond;
    std::size_t when = arg.find(" if ");
    if (when != std::string::npos) {
      cond = trim(std::string_view(arg).substr(when + 4));
      arg = trim(std::string_view(arg).substr(0, when));
      std::string_view ops = cond;
      if (ops.find_first_of("=!<>") == std::string_view::npos) {
        say("Write the condition as EXPR OP NUMBER, with ==, !=, <, <=, > or >=.\n");
        return true;
      }
    }
    int32_t p = resolve(arg, moved, error);
    if (p < 0) {
      say(error + ".\n");
      return true;
    }
    const qv::debug::Breakpoint* b = e_.add_breakpoint(p, cmd == "tbreak", error);
    if (!b) {
      say(error + ".\n");
      return true;
    }
    if (!cond.empty()) e_.set_condition(b->number, cond);
    say(std::string(cmd == "tbreak" ? "Temporary breakpoint " : "Breakpoint ") + std::to_string(b->number) + " at " +
        where(p) + (moved ? " (the next line with code)" : "") + "\n");
  } else if (cmd == "delete" || cmd == "d") {
    if (arg.empty()) {
      std::vector<int> all;
      for (const auto& b : e_.breakpoints()) all.push_back(b.number);
      for (int n : all) e_.delete_breakpoint(n);
    } else if (!e_.delete_breakpoint(std::atoi(arg.c_str()))) {
      int k = std::atoi(arg.c_str());
      auto it = std::find_if(shown_.begin(), shown_.end(), [&](const Shown& d) { return d.watch && d.number == k; });
      if (it == shown_.end())
        say("No breakpoint number " + arg + ".\n");
      else
        shown_.erase(it);
    }
  } else if (cmd == "enable" || cmd == "disable") {
    if (arg.empty()) {
      std::vector<int> all;
      for (const auto& b : e_.breakpoints()) all.push_back(b.number);
      for (int n : all) e_.enable_breakpoint(n, cmd == "enable");
    } else if (!e_.enable_breakpoint(std::atoi(arg.c_str()), cmd == "enable")) {
      say("No breakpoint number " + arg + ".\n");
    }
  } else if (cmd == "info" && (arg == "breakpoints" || arg == "b" || arg == "break")) {
    if (e_.breakpoints().empty()) {
      say("No breakpoints.\n");
      return true;
    }
    say("Num  Type        Enb Where\n");
    for (const auto& b : e_.breakpoints()) {
      char n[16];
      std::snprintf(n, sizeof n, "%-4d ", b.number);
      say(std::string(n) + (b.temporary ? "tbreakpoint " : "breakpoint  ") + (b.enabled ? "y   " : "n   ") +
          where(b.piece) + (b.hits ? ", hit " + std::to_string(b.hits) + (b.hits == 1 ? " time" : " times") : "") +
          "\n");
      if (!b.condition.empty()) say("        stop only if " + b.condition + "\n");
    }
  } else if (cmd == "info" && (arg == "registers" || arg == "r")) {
    if (need_run()) info_registers();
  } else if (cmd == "run" || cmd == "r") {
    if (!arg.empty() && arg[0] == '<') {
      std::string file = trim(std::string_view(arg).substr(1));
      if (!input_.open(file)) {
        say("Cannot open " + file + ": " + std::strerror(errno) + ".\n");
        return true;
      }
    } else {
      input_.rewind();
    }
    show_stop(e_.run(), true);
  } else if (cmd == "display" || cmd == "watch") {
    if (arg.empty()) {
      show_displays();
      return true;
    }
    std::string a = arg;
    uint32_t v = 0;
    std::string err;
    if (e_.running() && !value_of(a, v, err)) {
      say(err);
      return true;
    }
    // Watchpoints are numbered with the breakpoints, displays on their own.
    shown_.push_back({cmd == "watch" ? e_.take_number() : next_shown_++, arg, cmd == "watch"});
    if (cmd == "watch") {
      say("Watchpoint " + std::to_string(shown_.back().number) + ": " + arg +
          " (checked after every line: the program runs line by line while a watchpoint is set, some hundred "
          "times slower)\n");
    } else if (e_.running()) {
      say(std::to_string(shown_.back().number) + ": " + a + " = " + std::to_string(static_cast<int32_t>(v)) + "\n");
    }
  } else if (cmd == "undisplay" || (cmd == "delete" && arg.rfind("display", 0) == 0)) {
    std::string n = cmd == "undisplay" ? arg : trim(std::string_view(arg).substr(7));
    int k = std::atoi(n.c_str());
    auto it = std::find_if(shown_.begin(), shown_.end(), [&](const Shown& d) { return d.number == k; });
    if (it == shown_.end())
      say("No display number " + n + ".\n");
    else
      shown_.erase(it);
  } else if (cmd == "x") {
    if (need_run()) examine(arg);
  } else if (cmd == "stepi" || cmd == "si") {
    if (need_run()) stepi();
  } else if ((cmd == "continue" || cmd == "c") &&
             std::any_of(shown_.begin(), shown_.end(), [](const Shown& d) { return d.watch; })) {
    if (!need_run()) return true;
    Stop s = watch_continue();
    show_stop(s, true);
  } else if (cmd == "continue" || cmd == "c") {
    if (!need_run()) return true;
    // "continue N" passes the breakpoint it stands at N - 1 more times.
    int at = e_.hit();
    Stop s = e_.cont();
    for (int i = 1; i < count() && s == Stop::breakpoint && e_.hit() == at; i++) s = e_.cont();
    show_stop(s, true);
  } else if (cmd == "step" || cmd == "s" || cmd == "next" || cmd == "n") {
    if (!need_run()) return true;
    Stop s = Stop::line;
    bool into = cmd[0] == 's';
    for (int i = 0; i < count() && e_.running(); i++) {
      s = into ? e_.step() : e_.next();
      if (s != Stop::line) break;
    }
    show_stop(s, false);
  } else if (cmd == "finish") {
    if (!need_run()) return true;
    std::string_view proc = e_.procedure_of(e_.piece());
    int32_t entry = entry_of(e_.piece());
    say("Run till exit from " + std::string(proc) + "\n");
    Stop s = e_.finish();
    show_stop(s, true);
    uint32_t v = 0;
    if (s == Stop::line && returns_value(entry) && e_.reg(2, v))
      say("Value returned: rr = " + std::to_string(static_cast<int32_t>(v)) + "\n");
  } else if (cmd == "up" || cmd == "down") {
    long k = arg.empty() ? 1 : std::atol(arg.c_str());
    select_frame(static_cast<long>(selected_) + (cmd == "up" ? k : -k), true);
  } else if (cmd == "frame" || cmd == "f") {
    select_frame(arg.empty() ? static_cast<long>(selected_) : std::atol(arg.c_str()), false);
  } else if (cmd == "info" && (arg == "frame" || arg == "f")) {
    info_frame();
  } else if (cmd == "list" || cmd == "l") {
    list(arg);
  } else if (cmd == "print" || cmd == "p") {
    if (need_run()) print_expr(arg);
  } else if (cmd == "backtrace" || cmd == "bt") {
    long n = arg.empty() ? 0 : std::atol(arg.c_str());
    backtrace(n > 0 ? static_cast<std::size_t>(n) : 1000);
  } else if ((cmd == "help" || cmd == "h") && !arg.empty()) {
    static constexpr std::pair<std::string_view, std::string_view> kOne[] = {
        {"break", "break LOC [if EXPR OP NUMBER]: stop at LOC (LINE, FILE:LINE or a label; a procedure stops at\n"
                  "its first line after ntr).  tbreak: the same, once."},
        {"delete", "delete [N]: delete breakpoint or watchpoint N, or all."},
        {"enable", "enable [N], disable [N]: turn a breakpoint (or all) on or off."},
        {"run", "run [< FILE]: run from the start, the program's input read from FILE."},
        {"continue", "continue [N]: go on; with N pass the breakpoint it stands at N - 1 more times."},
        {"step", "step [N]: to the next line, into calls."},
        {"next", "next [N]: to the next line, over calls."},
        {"finish", "finish: until the current procedure returns; shows the value it returns."},
        {"stepi", "stepi: one MIPS instruction."},
        {"print", "print [/x|/d|/c|/t|/f] EXPR: EXPR is rN, rr, $N, $NAME, *ADDR, *rN or var D, N."},
        {"display", "display [EXPR]: show EXPR at every stop.  undisplay N: stop showing it."},
        {"watch", "watch EXPR: stop when its value changes (the program then runs line by line)."},
        {"x", "x/N ADDR: N words from ADDR, in hexadecimal."},
        {"info", "info breakpoints | registers | frame."},
        {"backtrace", "backtrace [N], bt [N]: the calls that led here, frame 0 innermost."},
        {"frame", "frame N, up [N], down [N]: select a frame for print and info frame."},
        {"list", "list [LOC]: ten lines around the selected line, or the next ten."},
        {"quit", "quit: end the session (and SPIM)."},
    };
    static constexpr std::pair<std::string_view, std::string_view> kAlias[] = {
        {"b", "break"}, {"tbreak", "break"}, {"d", "delete"},  {"disable", "enable"}, {"r", "run"},
        {"c", "continue"}, {"s", "step"}, {"n", "next"}, {"si", "stepi"}, {"p", "print"}, {"undisplay", "display"},
        {"bt", "backtrace"}, {"up", "frame"}, {"down", "frame"}, {"f", "frame"}, {"l", "list"}, {"q", "quit"}};
    std::string_view want = arg;
    for (const auto& [alias, full] : kAlias)
      if (want == alias) want = full;
    for (const auto& [name, text] : kOne)
      if (want == name) {
        say(std::string(text) + "\n");
        return true;
      }
    say("Undefined command: \"" + arg + "\".  Try \"help\".\n");
  } else if (cmd == "help" || cmd == "h") {
    say(std::string_view(kHelp).substr(std::string_view(kHelp).find("Commands:")));
  } else {
    say("Undefined command: \"" + cmd + "\".  Try \"help\".\n");
  }
  return true;
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
  if (o.help) return qv::write_all(1, kHelp) ? 0 : 4;
  if (o.version) return qv::write_all(1, std::string("quorvelin-debug ") + QV_VERSION + "\n") ? 0 : 4;
  if (!::isatty(0)) o.batch = true;

  std::vector<qv::run::Source> srcs;
  if (!qv::run::read_sources(o.files, srcs, error)) {
    tool_error(error);
    return 4;
  }
  if (qv::run::check_sources(o.files, srcs, o.stack, "quorvelin-debug")) return 1;

  qv::run::Translation t;
  try {
    qv::run::translate(srcs, t);
  } catch (const qv::Fatal& e) {
    tool_error(e.what());
    return 4;
  }
  std::string spim = qv::spim::find_program(o.spim);
  if (spim.empty()) {
    tool_error("SPIM is not installed (no '" + o.spim + "' on the PATH)");
    return 4;
  }
  qv::MarkedAssembly a;
  qv::mark_lines(t.plain, a);
  qv::spim::SessionJob job;
  job.spim = spim;
  job.trap = std::string(qv::spim::trap_file());
  job.program = a.text;
  job.stack = o.stack;
  job.cpu_limit = 600;
  job.own_group = true;
  job.preload = find_sigint_lib();
  qv::debug::Engine engine(srcs, t, a);
  if (!engine.start(job, error)) {
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
    Input input(buf, !o.batch);
    if (!o.input.empty() && !input.open(o.input)) {
      tool_error("cannot open " + o.input + ": " + std::strerror(errno));
      return 4;
    }
    Session s(srcs, t, a, engine, out, input);
    bool go = true;
    if (!o.script.empty()) {
      int fd = ::open(o.script.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) {
        tool_error("cannot open " + o.script + ": " + std::strerror(errno));
        return 4;
      }
      std::string sbuf;
      while (go && read_line(fd, sbuf, line)) {
        go = s.execute(line);
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
      go = s.execute(line);
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
