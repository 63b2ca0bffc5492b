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

const char* const kCommandHelp =
    "Commands (help CMD tells more):\n"
    "  break/b LOC [if COND], tbreak LOC, condition N [COND], ignore N COUNT,\n"
    "  delete/d [N], enable/disable [N], run/r [< FILE], start, kill/k,\n"
    "  continue/c [N], step/s [N], next/n [N], until/u [LOC], advance LOC,\n"
    "  finish, stepi/si, reverse-step/rs [N], reverse-next/rn [N], reverse-finish,\n"
    "  reverse-continue/rc, print/p [/x|/d|/c|/t|/f] EXPR, display[/FMT] [EXPR],\n"
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
    } else if (in_start_up(selected_)) {
      say("Not in a procedure: the start-up code has no variables.\n");
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
  } else if (cmd == "reverse-step" || cmd == "rs" || cmd == "reverse-next" || cmd == "rn" ||
             cmd == "reverse-finish" || cmd == "reverse-continue" || cmd == "rc") {
    go_back(cmd, count());
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
        {"reverse-step", "reverse-step [N], reverse-next [N], reverse-finish, reverse-continue: back to the start of the\n"
                         "line run before (reverse-next: in this procedure, over calls), to the call of this procedure, or\n"
                         "to the last breakpoint hit or watched change.  The program is run again from its start, with the\n"
                         "same input, to exactly that instruction; what it printed is not shown again."},
        {"print", "print [/x|/d|/c|/t|/f] EXPR: EXPR is rN, rr, fpN, $N, $NAME, *ADDR, *rN, var D, N, a number or\n"
                  "a label (its address), or those joined with + and -, in ( ) and *( )."},
        {"display", "display [EXPR]: show EXPR at every stop.  undisplay N: stop showing it."},
        {"watch", "watch EXPR: stop when its value changes (the program then runs line by line)."},
        {"x", "x/N ADDR: N words from ADDR (a number, a label or an EXPR), in hexadecimal, named by the labels\n"
              "they fall in or point at; a string also as text, code with its line.  x/Nd ADDR: in decimal.\n"
              "x/s ADDR: the string there."},
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
        {"c", "continue"}, {"s", "step"}, {"rs", "reverse-step"}, {"rn", "reverse-step"},
        {"reverse-next", "reverse-step"}, {"reverse-finish", "reverse-step"}, {"reverse-continue", "reverse-step"},
        {"rc", "reverse-step"}, {"n", "next"}, {"si", "stepi"}, {"p", "print"}, {"undisplay", "display"},
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

void Debugger::go_back(const std::string& cmd, int count) {
  std::vector<Shown*> watches;
  for (Shown& w : shown_)
    if (w.watch) watches.push_back(&w);
  // The watched values at a stop, as one text to compare.
  auto watched = [&]() {
    forget_frames();
    std::string all;
    for (Shown* w : watches) {
      std::string a = w->expr, err;
      uint32_t v = 0;
      all += value_of(a, v, err) ? std::to_string(v) : "?";
      all += ' ';
    }
    return all;
  };
  // Each watched value as it is here, to tell what changed.
  for (Shown* w : watches) {
    std::string a = w->expr, err;
    w->known = e_.inspectable() && value_of(a, w->value, err);
  }
  bool repeats = cmd == "rs" || cmd == "rn" || cmd == "reverse-step" || cmd == "reverse-next";
  Stop s = Stop::line;
  for (int i = 0; i < (repeats ? count : 1); i++) {
    if (cmd == "reverse-finish") {
      say("Run back to call of " + std::string(e_.procedure_of(e_.piece())) + "\n");
      s = e_.reverse_finish();
    } else if (cmd == "reverse-continue" || cmd == "rc") {
      s = watches.empty() ? e_.reverse_continue() : e_.reverse_continue(watched);
    } else {
      s = cmd[cmd.size() == 2 ? 1 : 8] == 's' ? e_.reverse_step() : e_.reverse_next();
    }
    if (s != Stop::line || e_.at_history_start()) break;
  }
  if (s == Stop::error) {
    say(e_.why() + "\n");
    return;
  }
  forget_frames();
  if (e_.at_history_start()) say("\nNo more reverse-execution history.\n");
  // A watched value that differs here from where the program stood.
  if (s == Stop::line && !e_.at_history_start() && !watches.empty() && (cmd == "reverse-continue" || cmd == "rc")) {
    for (Shown* w : watches) {
      std::string a = w->expr, err;
      uint32_t v = 0;
      if (!value_of(a, v, err) || (w->known && v == w->value)) continue;
      say("\nWatchpoint " + std::to_string(w->number) + ": " + a + "\n");
      if (w->known) say("Old value = " + std::to_string(static_cast<int32_t>(w->value)) + "\n");
      say("New value = " + std::to_string(static_cast<int32_t>(v)) + "\n");
      w->value = v;
      w->known = true;
      break;
    }
  }
  show_stop(s, cmd == "reverse-finish");
}

}  // namespace qv::debug
