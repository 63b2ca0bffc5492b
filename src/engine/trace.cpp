#include "engine/trace.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "check/diag.h"
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

}  // namespace

int trace_run(const std::vector<run::Source>& srcs, const run::Translation& t, spim::SessionJob job,
              const run::Options& o) {
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
  // order they ran, among what they printed.
  Out err(2, "standard error");
  bool trace_lost = false;
  auto flush_trace = [&] {
    try {
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
    flush_trace();
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
  Stop s = e.run();
  while ((s == Stop::breakpoint || s == Stop::line) && !closed && !trace_lost) {
    int32_t p = e.piece();
    if (p >= 0) {
      const run::Piece& pc = t.pieces[p];
      std::string_view text = srcs[pc.file].line(pc.line);
      std::string_view op = spim::mnemonic(text);
      if (returned && depth > 0) depth--;
      if (op == "ntr") depth++;
      returned = op == "rtn";
      // Indented by call depth: the main constructor's lines are not.
      for (uint32_t i = 1; i < depth; i++) err.raw("  ");
      err.raw(srcs[pc.file].name);
      err.raw(":");
      err.raw(std::to_string(pc.line));
      err.raw(": ");
      err.raw(check::Diags::escape(text));
      err.raw("\n");
    }
    if (++lines == o.trace_limit) {
      std::vector<int> all;
      for (const Breakpoint& b : e.breakpoints()) all.push_back(b.number);
      for (int n : all) e.delete_breakpoint(n);
      flush_trace();
      note("the trace stops after " + std::to_string(lines) + " lines (--trace-limit); the program runs on untraced");
    }
    s = e.cont();
  }
  flush_trace();

  if (trace_lost) {
    note("cannot write the trace to standard error", check::Severity::error);
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
