// The debugger's commands, named and laid out as gdb's.
#include "debug/commands.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "check/check.h"
#include "run/options.h"
#include "run/report.h"
#include "spim/fault.h"
#include "spim/process.h"

namespace qv::debug {

namespace {

// The words of a command's argument.
std::vector<std::string> words(std::string_view s) {
  std::vector<std::string> v;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) i++;
    std::size_t j = i;
    while (j < s.size() && s[j] != ' ' && s[j] != '\t') j++;
    if (j > i) v.emplace_back(s.substr(i, j - i));
    i = j;
  }
  return v;
}

}  // namespace

const char* const kCommandHelp =
    "Commands (help CMD tells more):\n"
    "  break/b LOC [if COND], tbreak LOC, condition N [COND], ignore N COUNT,\n"
    "  delete/d [N], enable/disable [N], run/r [< FILE], start, kill/k,\n"
    "  continue/c [N], step/s [N], next/n [N], until/u [LOC], advance LOC,\n"
    "  finish, stepi/si, print/p [/x|/d|/c|/t|/f] EXPR, display[/FMT] [EXPR],\n"
    "  undisplay N, watch EXPR, x/N ADDR, x/s ADDR, set var EXPR = VALUE,\n"
    "  info breakpoints|watchpoints|display|registers|frame|args|locals|\n"
    "  instructions, backtrace/bt/where [N], up/down [N], frame/f [N],\n"
    "  list/l [LOC|A,B], help, quit/q.\n"
    "LOC is LINE, FILE:LINE or a label; EXPR is rN, rr, fpN, $N, $NAME, *ADDR,\n"
    "*rN, var D, N (the word var D, N, rX would address from the selected frame),\n"
    "a number or a label, joined with + and -, in ( ) or *( ).\n"
    "At a terminal an empty line repeats step, next, continue and list.\n";

std::string trim(std::string_view s) {
  std::size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string_view::npos) return {};
  std::size_t e = s.find_last_not_of(" \t\r");
  return std::string(s.substr(b, e - b + 1));
}

FileOrTyped::~FileOrTyped() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileOrTyped::open(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  return true;
}

void FileOrTyped::rewind() {
  if (fd_ >= 0) ::lseek(fd_, 0, SEEK_SET);
}

Engine::Got FileOrTyped::more(std::string& into) {
  if (fd_ < 0) return typed(into);
  char b[4096];
  for (;;) {
    ssize_t r = ::read(fd_, b, sizeof b);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return Engine::Got::end;
    into.append(b, static_cast<std::size_t>(r));
    return Engine::Got::bytes;
  }
}

Debugger::Debugger(const std::vector<run::Source>& srcs, const run::Translation& t, const MarkedAssembly& a,
                   Engine& e, Screen& screen, ProgramInput& input, bool color)
    : srcs_(srcs), t_(t), a_(a), e_(e), screen_(screen), input_(input), color_(color) {
  place_markers();
  e_.set_input([this](std::string& more) { return input_.more(more); });
  e_.set_condition_check([this](const Breakpoint& b) {
    std::string err;
    bool holds = condition_holds(b.condition, err);
    if (!err.empty()) say("Error in the condition of breakpoint " + std::to_string(b.number) + ": " + err);
    return holds || !err.empty();
  });
  // The program's output is shown as it comes.
  e_.set_output([this](std::string_view s) {
    if (s.empty()) return;
    screen_.program(s);
    ended_line_ = s.back() == '\n';
  });
}

std::string base_name(std::string n) {
  std::size_t slash = n.rfind('/');
  if (slash != std::string::npos) n.erase(0, slash + 1);
  return n;
}

void Debugger::place_markers() {
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

std::string Debugger::where(int32_t piece) const {
  if (piece < 0) return "?";
  const qv::run::Piece& p = t_.pieces[piece];
  std::string at = base_name(srcs_[p.file].name) + ":" + std::to_string(p.line);
  // The marked source first.
  const auto& [sf, sl] = piece_src_[piece];
  if (sf >= 0) return base_name(src_names_[sf]) + ":" + std::to_string(sl) + " (" + at + ")";
  return at;
}

int32_t Debugger::resolve(std::string_view place, bool& moved, std::string& error) const {
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

void Debugger::show_line(int32_t piece) {
  if (piece < 0) return;
  const qv::run::Piece& p = t_.pieces[piece];
  say(std::to_string(p.line) + "\t" + std::string(srcs_[p.file].line(p.line)) + "\n");
}

void Debugger::show_stop(Stop s, bool announce_procedure) {
  forget_frames();
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
      // A line under a //#line marker: its place in the marked source is
      // shown at every stop, as the line number alone names only the
      // intermediate code's.
      if (announce_procedure || proc != shown_proc_ || !shown_any_ || (piece >= 0 && piece_src_[piece].first >= 0))
        say(std::string(proc) + " at " + where(piece) + "\n");
      show_line(piece);
      break;
    case Stop::exited:
      status_ = e_.status();
      say(status_ ? "[program exited with status " + std::to_string(status_) + "]\n" : "[program exited normally]\n");
      return;
    case Stop::fault: {
      qv::run::Reporter rep(srcs_, t_, a_, "<assembly>");
      qv::run::Options ro;
      status_ = rep.outcome(e_.fault_run(), ro, qv::run::InputState::unknown);
      report(rep.diags());
      say("[program stopped by a run-time error]\n");
      return;
    }
    case Stop::overflow: {
      // The runner's report, from the frames SPIM still holds.
      status_ = 2;
      qv::spim::Halt ov;
      qv::run::Reporter rep(srcs_, t_, a_, "<assembly>");
      if (e_.overflow_info(ov)) rep.set_overflow(&ov);
      qv::spim::SpimRun r;
      r.loaded = r.exited = true;
      r.run_err = e_.spim_err();
      qv::run::Options ro;
      rep.outcome(r, ro, qv::run::InputState::unknown);
      report(rep.diags());
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
    case Stop::limit:
      status_ = 3;
      say("\nProgram stopped at its limit of " + qv::spim::instructions_text(e_.instruction_limit()) +
          " (--max-instructions).\n");
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

void Debugger::show_displays() {
  for (Shown& d : shown_) {
    if (d.watch) continue;
    std::string a, err;
    uint32_t v = 0;
    char fmt = 0;
    // "display/FMT EXPR" as print /FMT shows it.
    if (printed(d.expr, a, v, fmt, err))
      say(std::to_string(d.number) + ": " + a + " = " + format(v, fmt) + "\n");
    else
      say(std::to_string(d.number) + ": " + d.expr + ": " + err);
  }
}

std::string Debugger::describe(uint32_t addr) {
  uint32_t off = 0;
  const std::string* name = e_.symbol_at(addr, off);
  if (!name) return {};
  // Past a procedure's code or a data item the nearest label means little.
  if (off > 4096) return {};
  return " <" + *name + (off ? "+" + std::to_string(off) : "") + ">";
}

void Debugger::examine(std::string_view arg) {
  // x/N ADDR: N words from ADDR (a number, a label, or an expression).
  std::string a = trim(arg);
  uint32_t count = 1;
  if (a.rfind("/s", 0) == 0) {
    // x/s ADDR: the string there.
    std::string name = trim(std::string_view(a).substr(2)), err, text;
    uint32_t addr = 0;
    if (name.empty() || !(e_.symbol_addr(name, addr) || value_of(name, addr, err))) {
      say("Write x/s ADDR, with ADDR a number, a label or a print expression.\n");
    } else if (!string_at(addr, false, text)) {
      say("Cannot read the string at " + qv::spim::hex(addr) + ".\n");
    } else {
      say(qv::spim::hex(addr) + describe(addr) + ":\t\"" + text + "\"\n");
    }
    return;
  }
  if (!a.empty() && a[0] == '/') {
    char* end = nullptr;
    count = static_cast<uint32_t>(std::strtoul(a.c_str() + 1, &end, 10));
    if (count == 0 || count > 4096) count = 1;
    a = trim(end);
  }
  uint32_t addr = 0;
  std::string err;
  std::string name = a;
  char* end = nullptr;
  bool ok = !a.empty() && (e_.symbol_addr(a, addr) || value_of(name, addr, err) ||
                           ((addr = static_cast<uint32_t>(std::strtoul(a.c_str(), &end, 0))), !*end));
  if (!ok) {
    say("Write x/N ADDR, with ADDR a number, a label or a print expression.\n");
    return;
  }
  uint32_t exact = addr;
  addr &= ~3u;
  std::vector<uint32_t> words;
  for (uint32_t i = 0; i < count; i++) {
    uint32_t v = 0;
    if (!e_.word(addr + 4 * i, v)) break;
    words.push_back(v);
  }
  // Words that are a label's address (a class table's superclass and
  // methods, a pointer to a string) are named, one a line.
  auto label_of = [&](uint32_t v) {
    uint32_t off = 0;
    const std::string* n = e_.symbol_at(v, off);
    return n && off == 0 ? " <" + *n + ">" : std::string();
  };
  bool named = std::any_of(words.begin(), words.end(), [&](uint32_t v) { return !label_of(v).empty(); });
  for (uint32_t i = 0; i < words.size(); i++) {
    if (named || i % 4 == 0) {
      if (i) say("\n");
      say(qv::spim::hex(addr + 4 * i) + describe(addr + 4 * i) + ":");
    }
    // (Built in steps: GCC 12 warns falsely on "literal" + string here.)
    std::string w(1, '\t');
    w += qv::spim::hex(words[i]);
    w += label_of(words[i]);
    say(w);
  }
  if (words.size() < count) {
    if (!words.empty()) say("\n");
    say("Cannot read the word at " + qv::spim::hex(addr + 4 * static_cast<uint32_t>(words.size())) + ".\n");
    return;
  }
  say("\n");
  // Code: the line it belongs to.
  if (int32_t piece = e_.piece_of(addr); piece >= 0) {
    say("code of " + where(piece) + ":\t" + trim(srcs_[t_.pieces[piece].file].line(t_.pieces[piece].line)) + "\n");
    return;
  }
  // A string: its text, up to its end or a screenful.
  uint32_t off = 0;
  const std::string* label = e_.symbol_at(exact, off);
  std::string text;
  if (label && off == 0 && string_at(exact, true, text)) say("<" + *label + ">: \"" + text + "\"\n");
}

bool Debugger::string_at(uint32_t at, bool strict, std::string& text) {
  text.clear();
  for (; text.size() < 200; at++) {
    uint32_t w = 0;
    if (!e_.word(at & ~3u, w)) return false;
    unsigned char c = static_cast<unsigned char>(w >> (8 * (at & 3)));  // SPIM runs little-endian
    if (c == 0) return !strict || !text.empty();
    if (c == '\n') {
      text += "\\n";
    } else if (c == '\t') {
      text += "\\t";
    } else if (c == '"' || c == '\\') {
      text.push_back('\\');
      text.push_back(static_cast<char>(c));
    } else if (c < 32 || c >= 127) {
      if (strict) return false;  // not a string
      char b[8];
      std::snprintf(b, sizeof b, "\\%03o", c);
      text += b;
    } else {
      text.push_back(static_cast<char>(c));
    }
  }
  text += "...";
  return true;
}

void Debugger::stepi() {
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

Stop Debugger::watch_continue() {
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

namespace {

// fpN and $fN: float register N.
bool float_reg(const std::string& r, int& n) {
  std::size_t digits = r.rfind("fp", 0) == 0 ? 2 : r.rfind("$f", 0) == 0 ? 2 : 0;
  if (!digits || r.size() == digits || r.size() > digits + 2 ||
      r.find_first_not_of("0123456789", digits) != std::string::npos)
    return false;
  n = std::atoi(r.c_str() + digits);
  return n < 32;
}

}  // namespace

bool Debugger::value_of(std::string& a, uint32_t& v, std::string& err, Place* where) {
  Place here;
  if (!where) where = &here;
  a = trim(a);
  // EXPR + EXPR and EXPR - EXPR (left to right), (EXPR) and *(EXPR) around
  // the forms below; "var D, N" holds a minus of its own.
  if (a.rfind("var", 0) != 0) {
    int depth = 0;
    std::size_t split = std::string::npos;
    for (std::size_t i = 0; i < a.size(); i++) {
      depth += a[i] == '(' ? 1 : a[i] == ')' ? -1 : 0;
      if (i == 0 || depth != 0 || (a[i] != '+' && a[i] != '-')) continue;
      // A sign after an operator is the operand's own.
      std::size_t before = a.find_last_not_of(" \t", i - 1);
      if (before != std::string::npos && a[before] != '+' && a[before] != '-' && a[before] != '(') split = i;
    }
    if (split != std::string::npos) {
      std::string lhs = a.substr(0, split), rhs = a.substr(split + 1);
      uint32_t l = 0, r = 0;
      Place pl, pr;
      if (!value_of(lhs, l, err, &pl) || !value_of(rhs, r, err, &pr)) return false;
      char op = a[split];
      v = op == '+' ? l + r : l - r;
      a = lhs;
      a += ' ';
      a += op;
      a += ' ';
      a += rhs;
      *where = {Place::value, 0, 0};
      return true;
    }
    if (a.size() > 2 && a.front() == '(' && a.back() == ')') {
      std::string inner = a.substr(1, a.size() - 2);
      if (!value_of(inner, v, err, where)) return false;
      a = "(" + inner + ")";
      return true;
    }
    if (a.size() > 3 && a.compare(0, 2, "*(") == 0 && a.back() == ')') {
      std::string inner = a.substr(2, a.size() - 3);
      uint32_t addr = 0;
      Place pi;
      if (!value_of(inner, addr, err, &pi)) return false;
      *where = {Place::word, 0, addr};
      if (!e_.word(addr, v)) {
        err = "Cannot read the word at " + qv::spim::hex(addr) + ".\n";
        return false;
      }
      a = "*(" + inner + ")";
      return true;
    }
  }
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
    *where = {Place::word, 0, addr};
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
    frames();
    if (selected_ >= frames_.size() || (selected_ == 0 && entry_of(e_.piece()) == e_.piece())) {
      err = "The procedure's record is not built yet: step once.\n";
      return false;
    }
    uint32_t link = frames_[selected_].fp + 8;
    for (long i = 0; i < d; i++) {
      uint32_t next = 0, beyond = 0;
      if (!e_.word(link, next) || !e_.word(next, beyond)) {
        err = "Cannot follow the static links.\n";
        return false;
      }
      // The start-up code's scope, outside every procedure, links to
      // itself: there is no scope past it.
      if (beyond == next) {
        std::string proc(frames_[selected_].procedure);
        err = "No enclosing scope " + std::to_string(d) + " levels out: " +
              (i == 0 ? proc + " is the outermost procedure (var 0 only)"
                      : proc + " lies " + std::to_string(i) + (i == 1 ? " level" : " levels") + " deep (var 0 to var " +
                            std::to_string(i) + ")") +
              ".\n";
        return false;
      }
      link = next;
    }
    uint32_t addr = link - 4 * static_cast<uint32_t>(k + 1);
    *where = {Place::word, 0, addr};
    if (!e_.word(addr, v)) {
      err = "Cannot read the word at " + qv::spim::hex(addr) + ".\n";
      return false;
    }
    a = "var " + std::to_string(d) + ", " + std::to_string(k);
  } else if (reg_of(a, n)) {
    *where = reg_place(n);
    if (!reg(n, v)) {
      err = "Cannot read " + a + ".\n";
      return false;
    }
  } else if (float_reg(a, n)) {
    // Float registers are not saved by calls: every frame sees the live one.
    *where = {Place::fpr, n, 0};
    if (!e_.freg(n, v)) {
      err = "Cannot read " + a + ".\n";
      return false;
    }
  } else if (!a.empty() && (std::isdigit(static_cast<unsigned char>(a[0])) || a[0] == '-')) {
    // A number (0x... in hexadecimal).
    char* end = nullptr;
    errno = 0;
    long long k = std::strtoll(a.c_str(), &end, 0);
    if (*end || errno || k < INT32_MIN || k > UINT32_MAX) {
      err = "Invalid number \"" + a + "\".\n";
      return false;
    }
    v = static_cast<uint32_t>(k);
    *where = {Place::value, 0, 0};
  } else if (uint32_t addr = 0; e_.symbol_addr(a, addr)) {
    // A label of the program: its address.
    v = addr;
    *where = {Place::value, 0, 0};
  } else {
    err = "No symbol \"" + a + "\": write rN, rr, fpN, $N, *ADDR, *rN, var D, N, a number or a label (+, - and *( ) "
          "join them).\n";
    return false;
  }
  return true;
}

bool Debugger::assign(std::string expr, uint32_t v, std::string& err) {
  uint32_t old = 0;
  Place where;
  std::string shown = expr;
  if (!value_of(shown, old, err, &where)) return false;
  if (where.kind == Place::fpr || where.kind == Place::value) {
    err = "Cannot set " + shown + ": it is not a general register or a word of memory.\n";
    return false;
  }
  std::string error;
  if (where.kind == Place::gpr ? e_.set_reg(where.reg, v, error) : e_.set_word(where.addr, v, error)) return true;
  err = "Cannot set " + shown + ": " + error + "\n";
  return false;
}

std::string Debugger::format(uint32_t v, char fmt) {
  char b[40];
  if (fmt == 'x') {
    std::snprintf(b, sizeof b, "0x%08x", v);
  } else if (fmt == 't') {
    std::string bits;
    for (int i = 31; i >= 0; i--)
      if (!bits.empty() || (v >> i) & 1 || i == 0) bits.push_back((v >> i) & 1 ? '1' : '0');
    return bits;
  } else if (fmt == 'f') {
    float f;
    std::memcpy(&f, &v, sizeof f);
    std::snprintf(b, sizeof b, "%g", static_cast<double>(f));
  } else if (fmt == 'c' && v >= 32 && v < 127) {
    std::snprintf(b, sizeof b, "%d '%c'", static_cast<int>(v), static_cast<char>(v));
  } else if (fmt == 'c') {
    std::snprintf(b, sizeof b, "%d '\\%03o'", static_cast<int>(v), static_cast<unsigned>(v & 255));
  } else {
    std::snprintf(b, sizeof b, "%d", static_cast<int32_t>(v));
  }
  return b;
}

bool Debugger::printed(std::string_view arg, std::string& shown, uint32_t& v, char& fmt, std::string& err) {
  shown = trim(arg);
  fmt = 0;
  if (shown.size() >= 2 && shown[0] == '/') {
    fmt = shown[1];
    shown = trim(std::string_view(shown).substr(2));
  }
  Place where;
  if (!value_of(shown, v, err, &where)) return false;
  // A float register holds a float unless asked otherwise.
  if (!fmt) fmt = where.kind == Place::fpr ? 'f' : 'd';
  return true;
}

void Debugger::print_expr(std::string_view arg) {
  std::string a, err;
  uint32_t v = 0;
  char fmt = 0;
  if (!printed(arg, a, v, fmt, err)) {
    say(err);
    return;
  }
  say(a + " = " + format(v, fmt) + "\n");
}

void Debugger::info_registers(std::string_view which) {
  static constexpr const char* kNames[] = {"t1", "t2", "t3", "t4", "t5", "t6", "t7",
                                           "s0", "s1", "s2", "s3", "s4", "s5", "s6"};
  // "info registers r3 rr": those only, in the order asked.
  std::vector<int> rows;
  for (std::string w : words(which)) {
    // r0 .. r13 written plainly (no leading zeros), or rr.
    bool plain = w.size() >= 2 && w.size() <= 3 && w[0] == 'r' && w.find_first_not_of("0123456789", 1) == std::string::npos &&
                 !(w.size() == 3 && w[1] == '0');
    int k = w == "rr" ? 14 : plain ? std::atoi(w.c_str() + 1) : -1;
    if (k < 0 || (k == 14 && w != "rr") || k > 14) {
      say("Invalid register `" + w + "': the registers are r0 to r13 and rr.\n");
      return;
    }
    rows.push_back(k);
  }
  if (rows.empty())
    for (int k = 0; k <= 14; k++) rows.push_back(k);
  for (int k : rows) {
    int n = k < 14 ? 9 + k : 2;
    uint32_t v = 0;
    if (!reg(n, v)) {  // as the selected frame sees them
      say("The program is not being run.\n");
      return;
    }
    char name[16], b[96];
    if (k < 14)
      std::snprintf(name, sizeof name, "r%d", k);
    else
      std::snprintf(name, sizeof name, "rr");
    std::snprintf(b, sizeof b, "%-4s $%-2d %-3s 0x%08x  %d\n", name, n, k < 14 ? kNames[k] : "v0", v,
                  static_cast<int32_t>(v));
    say(b);
  }
}

void Debugger::backtrace(std::size_t limit) {
  std::vector<FrameInfo> f = e_.backtrace(limit);
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

bool Debugger::condition_holds(const std::string& cond, std::string& err) {
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

bool Debugger::reg(int n, uint32_t& v) {
  Place p = reg_place(n);
  return p.kind == Place::gpr ? e_.reg(n, v) : e_.word(p.addr, v);
}

Place Debugger::reg_place(int n) {
  // The callee's record holds $9..$22 as they were at the call; a callee
  // stopped before its entry code ran built no record.
  if (selected_ == 0 || n < 9 || n > 22) return {Place::gpr, n, 0};
  frames();
  const FrameInfo& callee = frames_[selected_ - 1];
  if (callee.fp == frames_[selected_].fp) return {Place::gpr, n, 0};
  return {Place::word, 0, callee.fp + 64 - 4 * static_cast<uint32_t>(n - 9)};
}

int32_t Debugger::entry_of(int32_t piece) const {
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

int32_t Debugger::local_count(int32_t entry) const {
  if (entry < 0) return 0;
  const qv::run::Piece& p = t_.pieces[entry];
  return std::max(0, last_number(srcs_[p.file].line(p.line)));
}

bool Debugger::returns_value(int32_t entry) const {
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

int32_t Debugger::argument_count(int32_t entry) const {
  // What the procedure's first return takes off the stack.
  for (std::size_t k = static_cast<std::size_t>(entry) + 1; entry >= 0 && k < t_.pieces.size(); k++) {
    const qv::run::Piece& p = t_.pieces[k];
    std::string_view text = srcs_[p.file].line(p.line);
    if (qv::spim::mnemonic(text) == "ntr") break;
    if (qv::spim::mnemonic(text) == "rtn") return std::max(0, last_number(text));
  }
  return 0;
}

void Debugger::select_frame(long k, bool relative) {
  if (!e_.inspectable()) {
    say("No stack.\n");
    return;
  }
  frames();
  if (k < 0 || static_cast<std::size_t>(k) >= frames_.size()) {
    if (!relative) {
      say("No frame at level " + std::to_string(k) + ".\n");
      return;
    }
    // Up or down past the end goes to the end; from there, no further.
    std::size_t end = k < 0 ? 0 : frames_.size() - 1;
    if (selected_ == end) {
      say(k < 0 ? "Bottom (innermost) frame selected; you cannot go down.\n"
                : "Initial frame selected; you cannot go up.\n");
      return;
    }
    k = static_cast<long>(end);
  }
  selected_ = static_cast<std::size_t>(k);
  const FrameInfo& f = frames_[selected_];
  say("#" + std::to_string(selected_) + "  " + std::string(f.procedure) + " at " + where(f.piece) + "\n");
  show_line(f.piece);
}

std::string Debugger::main_procedure() const {
  if (t_.ends.empty()) return {};
  const qv::run::Piece& p = t_.pieces[t_.ends.back()];
  std::string line(srcs_[p.file].line(p.line));
  line = line.substr(0, line.find("//"));
  std::size_t comma = line.rfind(',');
  return comma == std::string::npos ? std::string() : trim(std::string_view(line).substr(comma + 1));
}

void Debugger::info_frame() {
  if (!e_.inspectable() || frames().empty()) {
    say("No stack.\n");
    return;
  }
  const FrameInfo& f = frames_[selected_];
  say("Frame #" + std::to_string(selected_) + ": " + std::string(f.procedure) + " at " + where(f.piece) + "\n");
  if (selected_ + 1 < frames_.size())
    say(" called from " + where(frames_[selected_ + 1].piece) + " (in " + std::string(frames_[selected_ + 1].procedure) +
        ")\n");
  std::vector<Slot> slots;
  if (!frame_slots(selected_, slots)) {
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
  for (const Slot& s : slots) {
    uint32_t v = 0;
    std::string val = e_.word(s.addr, v) ? std::to_string(static_cast<int32_t>(v)) : "?";
    say(std::string(s.argument ? " argument " : " local ") + s.name + " = " + val + "\n");
  }
}

bool Debugger::frame_slots(std::size_t frame, std::vector<Slot>& slots) {
  slots.clear();
  frames();
  if (frame >= frames_.size()) return false;
  const FrameInfo& f = frames_[frame];
  int32_t entry = entry_of(f.piece);
  if (frame == 0 && entry == e_.piece()) return false;
  // Displacement d of this record lies at fp + 4 - 4d.
  auto slot = [&](bool argument, int32_t d) {
    slots.push_back({"var 0, " + std::to_string(d), argument, f.fp + 4 - 4 * static_cast<uint32_t>(d)});
  };
  for (int32_t i = 1; i <= local_count(entry); i++) slot(false, i + 1);
  for (int32_t k = 1; k <= argument_count(entry); k++) slot(true, -15 - k);
  return true;
}

const std::vector<FrameInfo>& Debugger::frames() {
  if (!frames_known_) {
    frames_ = e_.inspectable() ? e_.backtrace() : std::vector<FrameInfo>{};
    frames_known_ = true;
  }
  return frames_;
}

void Debugger::forget_frames() {
  selected_ = 0;
  frames_known_ = false;
}

bool Debugger::select(std::size_t k) {
  if (k >= frames().size()) return false;
  selected_ = k;
  return true;
}

void Debugger::report(check::Diags& d) {
  d.trim();
  for (const check::Diag& one : d.all()) say(d.format(one, color_));
}

void Debugger::list(std::string_view arg) {
  // "list A,B": the lines from A to B of the file A names (a number, FILE:N
  // or a label); B a number, or empty for ten lines.
  if (std::size_t comma = arg.find(','); comma != std::string_view::npos) {
    std::string a = trim(arg.substr(0, comma)), b = trim(arg.substr(comma + 1));
    bool moved = false;
    std::string error;
    int32_t first = resolve(a, moved, error);
    if (first < 0) {
      say(error + ".\n");
      return;
    }
    uint32_t file = t_.pieces[first].file;
    // A line without code resolves to the next one with code: A itself is meant.
    std::string_view number = std::string_view(a).substr(a.rfind(':') == std::string::npos ? 0 : a.rfind(':') + 1);
    uint32_t from = moved ? static_cast<uint32_t>(std::atoi(std::string(number).c_str())) : t_.pieces[first].line;
    uint32_t to = b.empty() ? from + 9 : static_cast<uint32_t>(std::atoi(b.c_str()));
    to = std::min(to, srcs_[file].lines());
    if (from < 1 || to < from) {
      say("Nothing to list: line " + b + " is before line " + std::to_string(from) + ".\n");
      return;
    }
    for (uint32_t l = from; l <= to; l++) say("   " + std::to_string(l) + "\t" + std::string(srcs_[file].line(l)) + "\n");
    listed_ = first;
    listed_end_ = to;
    return;
  }
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
    piece = e_.inspectable() ? (frames_known_ ? frames_[selected_].piece : e_.piece()) : -1;
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
  int32_t at = !e_.inspectable() ? -1 : frames_known_ ? frames_[selected_].piece : e_.piece();
  uint32_t current = at >= 0 && t_.pieces[at].file == file ? t_.pieces[at].line : 0;
  for (uint32_t l = from; l <= to; l++)
    say(std::string(l == current ? "=> " : "   ") + std::to_string(l) + "\t" + std::string(srcs_[file].line(l)) + "\n");
  listed_ = piece >= 0 ? piece : 0;
  listed_end_ = to;
}

bool Debugger::execute(const std::string& line) {
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
  // Looking needs no running program: after a run-time error the machine
  // is still as the error left it.
  auto need_state = [&]() {
    if (e_.inspectable()) return true;
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
    const Breakpoint* b = e_.add_breakpoint(p, cmd == "tbreak", error);
    if (!b) {
      say(error + ".\n");
      return true;
    }
    if (!cond.empty()) e_.set_condition(b->number, cond);
    say(std::string(cmd == "tbreak" ? "Temporary breakpoint " : "Breakpoint ") + std::to_string(b->number) + " at " +
        where(p) + (moved ? " (the next line with code)" : "") + "\n");
  } else if ((cmd == "delete" || cmd == "d") && arg.rfind("display", 0) != 0) {
    if (arg.empty()) {
      // Every breakpoint and every watchpoint, as gdb does.
      std::vector<int> all;
      for (const auto& b : e_.breakpoints()) all.push_back(b.number);
      for (int n : all) e_.delete_breakpoint(n);
      std::erase_if(shown_, [](const Shown& d) { return d.watch; });
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
  } else if (cmd == "info" && (arg == "breakpoints" || arg == "b" || arg == "break" || arg == "watchpoints")) {
    // Breakpoints and watchpoints share their numbers: one list, in order.
    bool only_watch = arg == "watchpoints";
    std::vector<std::pair<int, std::string>> rows;
    if (!only_watch)
      for (const auto& b : e_.breakpoints()) {
        std::string row = std::string(b.temporary ? "tbreakpoint " : "breakpoint  ") + (b.enabled ? "y   " : "n   ") +
                          where(b.piece) +
                          (b.hits ? ", hit " + std::to_string(b.hits) + (b.hits == 1 ? " time" : " times") : "") + "\n";
        if (!b.condition.empty()) row += "        stop only if " + b.condition + "\n";
        if (b.ignore) row += "        will ignore next " + std::to_string(b.ignore) + " crossings of breakpoint.\n";
        rows.emplace_back(b.number, row);
      }
    for (const Shown& d : shown_)
      if (d.watch) rows.emplace_back(d.number, "watchpoint  y   " + d.expr + "\n");
    if (rows.empty()) {
      say(only_watch ? "No watchpoints.\n" : "No breakpoints or watchpoints.\n");
      return true;
    }
    std::sort(rows.begin(), rows.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    say("Num  Type        Enb Where\n");
    for (const auto& [number, row] : rows) {
      char n[16];
      std::snprintf(n, sizeof n, "%-4d ", number);
      say(n + row);
    }
  } else if (cmd == "info" && (arg == "args" || arg == "locals")) {
    std::vector<Slot> slots;
    if (!e_.inspectable() || frames().empty()) {
      say("No frame selected.\n");
    } else if (!frame_slots(selected_, slots)) {
      say("The procedure's record is not built yet: step once.\n");
    } else {
      bool any = false;
      for (const Slot& sl : slots) {
        if (sl.argument != (arg == "args")) continue;
        uint32_t v = 0;
        say(sl.name + " = " + (e_.word(sl.addr, v) ? std::to_string(static_cast<int32_t>(v)) : "?") + "\n");
        any = true;
      }
      if (!any) say(arg == "args" ? "No arguments.\n" : "No locals.\n");
    }
  } else if (cmd == "info" && arg == "display") {
    bool any = false;
    for (const Shown& d : shown_)
      if (!d.watch) {
        if (!any) say("Auto-display expressions now in effect:\nNum Enb Expression\n");
        any = true;
        say(std::to_string(d.number) + ":   y  " + d.expr + "\n");
      }
    if (!any) say("There are no auto-display expressions now.\n");
  } else if (cmd == "info" && (arg == "instructions" || arg == "i")) {
    uint64_t n = 0;
    if (!e_.instructions(n))
      say("Instructions are not counted: SPIM runs without the library that counts them.\n");
    else
      say(qv::spim::instructions_text(n) + " executed in this run (limit " +
          std::to_string(e_.instruction_limit()) + ").\n");
  } else if (cmd == "info" && (arg == "registers" || arg == "r" || arg.rfind("registers ", 0) == 0 ||
                                arg.rfind("r ", 0) == 0)) {
    if (need_state()) info_registers(std::string_view(arg).substr(std::min(arg.size(), arg.find(' '))));
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
    std::string a, err;
    uint32_t v = 0;
    char fmt = 0;
    if (e_.inspectable() && !(cmd == "watch" ? value_of(a = arg, v, err) : printed(arg, a, v, fmt, err))) {
      say(err);
      return true;
    }
    // Watchpoints are numbered with the breakpoints, displays on their own.
    shown_.push_back({cmd == "watch" ? e_.take_number() : next_shown_++, arg, cmd == "watch"});
    if (cmd == "watch") {
      say("Watchpoint " + std::to_string(shown_.back().number) + ": " + arg +
          " (checked after every line: the program runs line by line while a watchpoint is set, some hundred "
          "times slower)\n");
    } else if (e_.inspectable()) {
      say(std::to_string(shown_.back().number) + ": " + a + " = " + format(v, fmt) + "\n");
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
    if (need_state()) examine(arg);
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
    if (count() > 1 && !e_.at_breakpoint()) say("Not stopped at any breakpoint; argument ignored.\n");
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
    if (frames().size() <= 1) {
      say("\"finish\" not meaningful in the outermost frame.\n");
      return true;
    }
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
    if (need_state()) print_expr(arg);
  } else if (cmd == "set" && (arg.rfind("var ", 0) == 0 || arg.rfind("variable ", 0) == 0)) {
    // set var EXPR = VALUE: a register or a word of memory.
    std::string rest = trim(std::string_view(arg).substr(arg.find(' ')));
    std::size_t eq = rest.find('=');
    std::string lhs = eq == std::string::npos ? std::string() : trim(std::string_view(rest).substr(0, eq));
    std::string rhs = eq == std::string::npos ? std::string() : trim(std::string_view(rest).substr(eq + 1));
    uint32_t v = 0;
    std::string err;
    if (lhs.empty() || rhs.empty()) {
      say("Write set var EXPR = VALUE.\n");
    } else if (!need_state()) {
    } else if (!value_of(rhs, v, err) || !assign(lhs, v, err)) {
      say(err);
    } else {
      forget_frames();
    }
  } else if (cmd == "kill" || cmd == "k") {
    if (!e_.running() && !e_.inspectable()) {
      say("The program is not being run.\n");
    } else if (!e_.kill()) {
      say("SPIM did not answer.\n");
    } else {
      forget_frames();
      say("[program killed]\n");
    }
  } else if (cmd == "start") {
    // A temporary breakpoint at the main procedure's first line, then run.
    std::string main_proc = main_procedure();
    bool moved = false;
    std::string error;
    int32_t p = main_proc.empty() ? -1 : resolve(main_proc, moved, error);
    const Breakpoint* b = p < 0 ? nullptr : e_.add_breakpoint(p, true, error);
    if (!b) {
      say("No main procedure to start in" + (error.empty() ? std::string() : ": " + error) + ".\n");
      return true;
    }
    say("Temporary breakpoint " + std::to_string(b->number) + " at " + where(p) + "\n");
    input_.rewind();
    show_stop(e_.run(), true);
  } else if (cmd == "advance" || (cmd == "until" && !arg.empty())) {
    if (!need_run()) return true;
    bool moved = false;
    std::string error;
    int32_t p = resolve(arg, moved, error);
    const Breakpoint* b = p < 0 ? nullptr : e_.add_breakpoint(p, true, error);
    if (!b) {
      say(error + ".\n");
      return true;
    }
    int number = b->number;
    Stop s = e_.cont();
    e_.delete_breakpoint(number);  // when the program stopped elsewhere first
    show_stop(s, false);
  } else if (cmd == "until" || cmd == "u") {
    // next, but a jump back (the end of a loop) does not stop: on to a line
    // after this one, or out of the procedure.
    if (!need_run()) return true;
    int32_t from = e_.piece();
    std::size_t depth = frames().size();
    Stop s;
    do {
      s = e_.next();
      forget_frames();
    } while (s == Stop::line && e_.piece() >= 0 && from >= 0 && e_.piece() < from && frames().size() == depth);
    show_stop(s, false);
  } else if (cmd == "ignore") {
    std::vector<std::string> w = words(arg);
    char* end = nullptr;
    unsigned long n = w.size() == 2 ? std::strtoul(w[1].c_str(), &end, 10) : 0;
    if (w.size() != 2 || *end || w[1][0] == '-') {
      say("Write ignore N COUNT.\n");
    } else if (!e_.set_ignore(std::atoi(w[0].c_str()), static_cast<uint32_t>(n))) {
      say("No breakpoint number " + w[0] + ".\n");
    } else {
      say(n == 0 ? "Will stop next time breakpoint " + w[0] + " is reached.\n"
                 : "Will ignore next " + std::to_string(n) + (n == 1 ? " crossing" : " crossings") + " of breakpoint " +
                       w[0] + ".\n");
    }
  } else if (cmd == "condition") {
    std::vector<std::string> w = words(arg);
    if (w.empty()) {
      say("Argument required (a breakpoint number).\n");
      return true;
    }
    std::string cond = trim(std::string_view(arg).substr(w[0].size()));
    if (!cond.empty() && cond.find_first_of("=!<>") == std::string::npos) {
      say("Write the condition as EXPR OP NUMBER, with ==, !=, <, <=, > or >=.\n");
    } else if (!e_.set_condition(std::atoi(w[0].c_str()), cond)) {
      say("No breakpoint number " + w[0] + ".\n");
    } else if (cond.empty()) {
      say("Breakpoint " + w[0] + " now unconditional.\n");
    }
  } else if (cmd == "backtrace" || cmd == "bt" || cmd == "where") {
    long n = arg.empty() ? 0 : std::atol(arg.c_str());
    backtrace(n > 0 ? static_cast<std::size_t>(n) : 1000);
  } else if ((cmd == "help" || cmd == "h") && !arg.empty()) {
    static constexpr std::pair<std::string_view, std::string_view> kOne[] = {
        {"break", "break LOC [if EXPR OP NUMBER]: stop at LOC (LINE, FILE:LINE or a label; a procedure stops at\n"
                  "its first line after ntr).  tbreak: the same, once."},
        {"delete", "delete [N]: delete breakpoint or watchpoint N, or all of them."},
        {"enable", "enable [N], disable [N]: turn a breakpoint (or all) on or off."},
        {"run", "run [< FILE]: run from the start, the program's input read from FILE."},
        {"continue", "continue [N]: go on; with N pass the breakpoint it stands at N - 1 more times."},
        {"step", "step [N]: to the next line, into calls."},
        {"next", "next [N]: to the next line, over calls."},
        {"finish", "finish: until the current procedure returns; shows the value it returns."},
        {"stepi", "stepi: one MIPS instruction."},
        {"print", "print [/x|/d|/c|/t|/f] EXPR: EXPR is rN, rr, fpN, $N, $NAME, *ADDR, *rN, var D, N, a number or\n"
                  "a label (its address), or those joined with + and -, in ( ) and *( )."},
        {"display", "display [EXPR]: show EXPR at every stop.  undisplay N: stop showing it."},
        {"watch", "watch EXPR: stop when its value changes (the program then runs line by line)."},
        {"x", "x/N ADDR: N words from ADDR (a number, a label or an EXPR), in hexadecimal, named by the labels\n"
              "they fall in or point at; a string also as text, code with its line.  x/s ADDR: the string there."},
        {"info", "info breakpoints | watchpoints | display | registers [REG...] | frame | args | locals | instructions."},
        {"start", "start: run to the first line of the main procedure."},
        {"kill", "kill: end the program where it stands (run starts it again)."},
        {"set", "set var EXPR = VALUE: give a register (rN, rr, $N) or a word of memory (var D, N, *ADDR) a value."},
        {"advance", "advance LOC, until LOC: run on to LOC (or to an earlier stop)."},
        {"until", "until: next, but not back to an earlier line of a loop: on to a later line or out of the procedure."},
        {"condition", "condition N [EXPR OP NUMBER]: make breakpoint N conditional, or no longer so."},
        {"ignore", "ignore N COUNT: pass breakpoint N the next COUNT times it is reached."},
        {"backtrace", "backtrace [N], bt [N]: the calls that led here, frame 0 innermost."},
        {"frame", "frame N, up [N], down [N]: select a frame for print and info frame."},
        {"list", "list [LOC], list A,B: ten lines around the selected line (or LOC), the next ten, or lines A to B."},
        {"quit", "quit: end the session (and SPIM)."},
    };
    static constexpr std::pair<std::string_view, std::string_view> kAlias[] = {
        {"b", "break"}, {"tbreak", "break"}, {"d", "delete"},  {"disable", "enable"}, {"r", "run"},
        {"c", "continue"}, {"s", "step"}, {"n", "next"}, {"si", "stepi"}, {"p", "print"}, {"undisplay", "display"},
        {"bt", "backtrace"}, {"where", "backtrace"}, {"k", "kill"}, {"u", "until"}, {"up", "frame"}, {"down", "frame"}, {"f", "frame"}, {"l", "list"}, {"q", "quit"}};
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
    say(kCommandHelp);
  } else if (cmd == "info") {
    say(arg.empty() ? "\"info\" must be followed by what: breakpoints, watchpoints, display, registers, frame, args, locals or "
                      "instructions.\n"
                    : "Undefined info command: \"" + arg +
                          "\".  Known: breakpoints, watchpoints, display, registers, frame, args, locals, instructions.\n");
  } else {
    say("Undefined command: \"" + cmd + "\".  Try \"help\".\n");
  }
  return true;
}

}  // namespace qv::debug
