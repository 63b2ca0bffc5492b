#include "engine/trace.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "check/diag.h"
#include "dispatch/jump_table.h"
#include "engine/engine.h"
#include "emit/marks.h"
#include "emit/out.h"
#include "fatal.h"
#include "run/report.h"
#include "spim/fault.h"

namespace qv::engine {

namespace {

// SPIM's process, for the signal handler (which can reach nothing else): an
// interrupted trace ends SPIM too, with the runner's status for it.
volatile pid_t g_traced = -1;

extern "C" void qv_trace_on_signal(int) {
  if (g_traced > 0) ::kill(g_traced, SIGKILL);
  ::_exit(130);
}

void note(const std::string& msg, check::Severity s = check::Severity::note) {
  check::tool_message("quorvelin-run", s, msg);
}

// What a traced line changes, to be read at the next stop, once the line
// has run: the registers it writes (by the opcode table's signature), the
// word it stores, the procedure a call enters, the value a return hands back.
struct Effects {
  std::vector<std::pair<std::string, int>> regs;  // name, MIPS register
  std::vector<std::pair<std::string, int>> floats;  // name, float register
  int address = -1;     // the register holding the address of the word stored
  bool call = false;
  bool returns = false;
  bool real = false;    // the registers hold floats
  bool address_made = false;  // they hold addresses: shown in hexadecimal

  bool any() const { return !regs.empty() || !floats.empty() || address >= 0 || call || returns; }
  // The register read first, in the same exchange as the continue.
  int first() const { return !regs.empty() ? regs[0].second : address >= 0 ? address : returns ? 2 : call ? 29 : -1; }
};

// Whether a documentation column ("p1, [p2]") names operand i+1 itself.
bool names(std::string_view column, std::size_t i) {
  std::string p(1, 'p');
  p += std::to_string(i + 1);  // built stepwise: GCC 12 warns falsely on "p" + ...
  for (std::size_t at = column.find(p); at != std::string_view::npos; at = column.find(p, at + 1)) {
    bool word = at > 0 && column[at - 1] == '[';
    bool more = at + p.size() < column.size() && column[at + p.size()] >= '0' && column[at + p.size()] <= '9';
    if (!word && !more) return true;
  }
  return false;
}

// The effects of `text`, a piece of a line, read through `fields` as the
// translator reads it.
Effects effects_of(run::Fields& fields, std::string_view text) {
  Effects f;
  fields.read(text);
  std::string_view op = fields.opcode();
  const OpcodeRow* row = find_row(op);
  if (!row) return f;
  for (int i = 0; i < row->sig.n && i < 5; i++)
    if ((row->sig.writes >> i & 1) && row->sig.arg[i] == Arg::reg) {
      if (int n = fields.general(i); n >= 0) f.regs.emplace_back(fields.operand(i), n);
    } else if (row->sig.arg[i] == Arg::freg && names(row->doc.writes, static_cast<std::size_t>(i))) {
      // The signature marks general registers only; the documentation
      // names every operand written.
      if (int n = fields.floating(i); n >= 0) f.floats.emplace_back(fields.operand(i), n);
    }
  // "[pN]" among what the line writes: the word at the address pN holds,
  // unless the line changes pN too.
  if (const char* w = std::strstr(row->doc.writes, "[p")) {
    f.address = fields.general(w[2] - '1');
    for (const auto& r : f.regs)
      if (r.second == f.address) f.address = -1;
  }
  f.call = op == "cal";
  f.returns = op == "rtn" && fields.general(0) >= 0;
  std::string_view first = fields.operand(0);
  f.address_made = op == "var" || op == "alc" || op == "gstr" ||
                   (op == "cst" && !first.empty() && first.find_first_not_of("-0123456789") != std::string_view::npos);
  f.real = op == "cstf" || op == "addf" || op == "subf" || op == "mulf" || op == "divf" || op == "negf";
  return f;
}

std::string shown(uint32_t v, bool real) {
  char b[32];
  if (real) {
    float x;
    std::memcpy(&x, &v, sizeof x);
    std::snprintf(b, sizeof b, "%g", static_cast<double>(x));
  } else {
    std::snprintf(b, sizeof b, "%d", static_cast<int32_t>(v));
  }
  return b;
}

// The number of argument words of the procedure entered at piece `entry`:
// what its returns remove, when they agree; -1 when unknown.
int arguments_of(const std::vector<run::Source>& srcs, const run::Translation& t, int32_t entry, run::Fields& fields) {
  int count = -1;
  for (std::size_t p = static_cast<std::size_t>(entry) + 1; p < t.pieces.size(); p++) {
    const run::Piece& pc = t.pieces[p];
    if (pc.opcode() == "ntr") break;
    if (pc.opcode() != "rtn") continue;
    fields.read(run::piece_text(srcs, pc));
    long k = fields.number(fields.general(0) >= 0 ? 1 : 0);
    if (k < 0 || k > 999 || (count >= 0 && k != count)) return -1;
    count = static_cast<int>(k);
  }
  return count;
}

// The values `f` names, read from SPIM where the program now stands (the
// stop after the line), "" when there are none or one cannot be read.
std::string values(Engine& e, const Effects& f, const std::vector<run::Source>& srcs, const run::Translation& t,
                   std::map<int32_t, int>& args, run::Fields& fields) {
  std::string s;
  auto read = [&](int n, uint32_t& v) { return e.peeked(n, v) || e.reg(n, v); };
  auto add = [&](const std::string& item) {
    s += s.empty() ? "    " : ", ";
    s += item;
  };
  for (const auto& [name, n] : f.regs) {
    uint32_t v = 0;
    if (!read(n, v)) return "";
    std::string item(name);
    item += " = ";
    add(item + (f.address_made ? spim::hex(v) : shown(v, f.real)));
  }
  for (const auto& [name, n] : f.floats) {
    uint32_t bits = 0;
    if (!e.freg(n, bits)) return "";
    std::string item(name);
    add(item + " = " + shown(bits, true));
  }
  if (f.address >= 0) {
    uint32_t addr = 0, v = 0;
    if (!read(f.address, addr) || !e.word(addr, v)) return "";
    std::string item = "[";
    item += spim::hex(addr);
    add(item + "] = " + shown(v, false));
  }
  if (f.returns) {
    uint32_t v = 0;
    if (!read(2, v)) return "";
    std::string item = "returns ";
    add(item + shown(v, false));
  }
  // A call stands at its procedure's first line, before the entry code.
  int32_t p = e.piece();
  if (f.call && p >= 0 && t.pieces[p].opcode() == "ntr") {
    auto it = args.find(p);
    if (it == args.end()) it = args.emplace(p, arguments_of(srcs, t, p, fields)).first;
    std::string item = "-> ";
    item += e.procedure_of(p);
    uint32_t sp = 0;
    if (it->second >= 0 && read(29, sp)) {
      // The arguments were pushed first to last below the caller's $sp; the
      // call then moved $sp 56 bytes further down.
      item += "(";
      for (int j = 0; j < it->second; j++) {
        uint32_t v = 0;
        if (!e.word(sp + 56 + 4 * static_cast<uint32_t>(it->second - j), v)) return "";
        if (j) item += ", ";
        item += shown(v, false);
      }
      item += ")";
    }
    add(item);
  }
  return s;
}

}  // namespace

int trace_run(const std::vector<run::Source>& srcs, const run::Translation& t, spim::SessionJob job,
              const run::Options& o) {
  // The trace goes to --trace-file when there is one, opened (and emptied)
  // before the program starts; the runner's own messages stay on standard
  // error.
  int trace_fd = 2;
  if (!o.trace_file.empty()) {
    trace_fd = ::open(o.trace_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (trace_fd < 0) {
      std::string m = "cannot write the trace to ";
      m += o.trace_file;
      m += ": ";
      m += std::strerror(errno);
      note(m, check::Severity::error);
      return 4;
    }
  }
  struct CloseTrace {
    int fd;
    ~CloseTrace() {
      if (fd != 2) ::close(fd);
    }
  } close_trace{trace_fd};
  MarkedAssembly a;
  mark_lines(t.plain, a);
  job.program = a.text;
  Engine e(srcs, t, a);
  std::string error;
  if (!e.start(job, error)) {
    note(error, check::Severity::error);
    return 4;
  }
  e.set_instruction_limit(o.max_instructions);
  g_traced = e.spim_pid();
  struct sigaction sa {};
  sa.sa_handler = qv_trace_on_signal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
  bool closed = false;
  // The trace is buffered, and written out before anything of the
  // program's (its output, a wait for its input): the lines come in the
  // order they ran, among what they printed.  A line that changes values is
  // held until the next stop, where they are read; should the program print
  // first, it is written without them.  (A reading line is held over its
  // wait for input: it shows what was read.)
  Out err(trace_fd, trace_fd == 2 ? "standard error" : o.trace_file.c_str());
  bool trace_lost = false;
  std::string held;
  auto flush_trace = [&](bool with_held = true) {
    try {
      if (with_held && !held.empty()) {
        err.raw(held);
        err.raw("\n");
        held.clear();
      }
      err.flush();
    } catch (const Fatal&) {
      trace_lost = true;
    }
  };
  e.set_output([&](std::string_view s) {
    flush_trace();
    if (!closed && !write_all(1, s)) closed = true;
  });
  e.set_input([&](std::string& more) {
    flush_trace(false);
    char b[4096];
    for (;;) {
      ssize_t r = ::read(0, b, sizeof b);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return Engine::Got::end;
      more.append(b, static_cast<std::size_t>(r));
      return Engine::Got::bytes;
    }
  });
  for (std::size_t p = 0; p < t.pieces.size(); p++)
    if (e.has_code(static_cast<int32_t>(p)) && !e.add_breakpoint(static_cast<int32_t>(p), false, error)) {
      note(error, check::Severity::error);
      return 4;
    }

  uint64_t lines = 0;
  uint32_t depth = 0;
  bool returned = false;  // the last line was a return
  Effects owed;           // of the held line
  std::map<int32_t, int> args;
  run::Fields fields;
  Stop s = e.run();
  while ((s == Stop::breakpoint || s == Stop::line) && !closed && !trace_lost) {
    if (!held.empty()) {
      held += values(e, owed, srcs, t, args, fields);
      flush_trace();
    }
    if (lines == o.trace_limit) {
      std::vector<int> all;
      for (const Breakpoint& b : e.breakpoints()) all.push_back(b.number);
      for (int n : all) e.delete_breakpoint(n);
      flush_trace();
      note("the trace stops after " + std::to_string(lines) + " lines (--trace-limit); the program runs on untraced");
      s = e.cont();
      break;
    }
    int32_t p = e.piece();
    if (p >= 0) {
      const run::Piece& pc = t.pieces[p];
      std::string_view text = srcs[pc.file].line(pc.line);
      std::string_view op = pc.opcode();
      if (returned && depth > 0) depth--;
      if (op == "ntr") depth++;
      returned = op == "rtn";
      // Indented by call depth: the main constructor's lines are not.
      std::string line;
      for (uint32_t i = 1; i < depth; i++) line += "  ";
      line += srcs[pc.file].name;
      line += ":";
      line += std::to_string(pc.line);
      line += ": ";
      line += check::Diags::escape(text);
      owed = effects_of(fields, run::piece_text(srcs, pc));
      if (owed.any()) {
        held = std::move(line);
        e.peek_after(owed.first());
      } else {
        err.raw(line);
        err.raw("\n");
      }
    }
    lines++;
    s = e.cont();
  }
  flush_trace();

  if (trace_lost) {
    std::string m = "cannot write the trace to ";
    m += trace_fd == 2 ? "standard error" : o.trace_file;
    note(m, check::Severity::error);
    return 4;
  }
  if (closed) return 4;
  if (o.stats || (o.max_instructions_set && s == Stop::exited)) {
    uint64_t n = 0;
    if (e.instructions(n))
      note(spim::instructions_text(n) + " executed (SPIM's start-up code and the stops of the trace not counted)");
    else
      note("instructions cannot be counted with this SPIM (the library quorvelin-run preloads into it is missing "
           "or did not load); the CPU-time limit applies");
  }
  switch (s) {
    case Stop::limit: {
      std::string where;
      if (int32_t p = e.piece_of(e.pc()); p >= 0)
        where = " at " + srcs[t.pieces[p].file].name + ":" + std::to_string(t.pieces[p].line);
      note("the program was stopped at its limit of " + spim::instructions_text(o.max_instructions) +
               " (--max-instructions)" + where,
           check::Severity::error);
      return 3;
    }
    case Stop::exited:
      return e.status();
    case Stop::fault: {
      run::Reporter rep(srcs, t, a, "<assembly>");
      int status = rep.outcome(e.fault_run(), o, run::InputState::unknown);
      rep.diags().print(2, false);
      return status;
    }
    case Stop::overflow: {
      spim::SpimRun r;
      r.loaded = r.exited = true;
      r.run_err = e.spim_err();
      run::Reporter rep(srcs, t, a, "<assembly>");
      int status = rep.outcome(r, o, run::InputState::unknown);
      rep.diags().print(2, false);
      return status;
    }
    case Stop::input_end:
      note("the program kept reading at the end of its input and was stopped", check::Severity::error);
      return 3;
    case Stop::interrupted:
      return 130;
    default:
      note("SPIM stopped: the program executed a word that is not an instruction?", check::Severity::error);
      return 2;
  }
}

}  // namespace qv::engine
