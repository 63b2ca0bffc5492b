// quorvelin-run: checks an intermediate program, translates it and runs it in
// SPIM, with an exit status that says how the run ended and messages at the
// intermediate-code line.
//
//   quorvelin-run [OPTIONS] FILE... [-- PROGRAM-ARGS]
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <algorithm>
#include <cstring>
#include <string>

#include "check/check.h"
#include "debug/trace.h"
#include "emit/out.h"
#include "fatal.h"
#include "run/options.h"
#include "run/program.h"
#include "run/report.h"
#include "spim/instructions.h"
#include "spim/process.h"
#include "spim/trap.h"
#include "version.h"

namespace {

using qv::write_all;

using qv::check::Severity;

// Messages of the runner itself ("quorvelin-run: error: ...").
void tool_error(const std::string& msg, const std::string& note = {}) {
  qv::check::tool_message("quorvelin-run", Severity::error, msg, note);
}

bool write_file(const std::string& path, const std::string& text, std::string& error) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  bool ok = write_all(fd, text);
  int e = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    e = errno;
  }
  if (!ok) error = "cannot write " + path + ": " + std::strerror(e);
  return ok;
}

double seconds_since(const timespec& t0) {
  timespec t1{};
  clock_gettime(CLOCK_MONOTONIC, &t1);
  return static_cast<double>(t1.tv_sec - t0.tv_sec) + static_cast<double>(t1.tv_nsec - t0.tv_nsec) / 1e9;
}

const char* kInstall = "install it with 'sudo apt-get install spim', or name it with --spim PATH";

}  // namespace

int main(int argc, char** argv) {
  // A closed output pipe is seen as a failed write: SPIM is stopped first.
  signal(SIGPIPE, SIG_IGN);

  qv::run::Options o;
  std::string error;
  if (!qv::run::parse_options(argc, argv, o, error)) {
    tool_error(error);
    return 4;
  }
  if (o.help) return write_all(1, qv::run::help_text()) ? 0 : 4;
  if (o.version) return write_all(1, std::string("quorvelin-run ") + QV_VERSION + "\n") ? 0 : 4;

  // SPIM starts first: it gets going while the program is checked and
  // translated, and is handed the program through a pipe.
  std::string spim = qv::spim::find_program(o.spim);
  qv::spim::SpimJob job;
  job.spim = spim;
  job.trap = std::string(qv::spim::trap_file());
  job.args = o.args;
  job.stack = o.stack;
  job.cpu_limit = o.cpu_limit;
  job.max_output = o.max_output;
  job.preload = qv::spim::preload_library();
  // Counted, the instruction limit decides and CPU time is a safety net.
  job.instruction_limit = o.max_instructions + qv::spim::kStartupInstructions;
  if (!o.cpu_limit_set) job.counted_cpu_limit = qv::run::kSafetyCpuLimit;
  timespec began{};
  clock_gettime(CLOCK_MONOTONIC, &began);
  qv::spim::SpimProcess proc;
  qv::spim::SpimRun r;
  // A traced run goes through SPIM's command mode instead (below).
  bool started = !spim.empty() && !o.trace && proc.start(job, r);

  // Read once: the checker and the translation see the same bytes.
  std::vector<qv::run::Source> srcs;
  if (!qv::run::read_sources(o.files, srcs, error)) {
    tool_error(error);
    return 4;
  }

  bool check_failed = false;
  if (o.check) check_failed = qv::run::check_sources(o.files, srcs, o.stack, "quorvelin-run");

  qv::run::Translation t;
  try {
    qv::run::translate(srcs, t);
  } catch (const qv::Fatal& e) {
    tool_error(e.what());
    return 4;
  }
  if (!o.asm_out.empty() && !write_file(o.asm_out, t.plain, error)) {
    tool_error(error);
    return 4;
  }
  if (check_failed) return 1;

  if (spim.empty()) {
    tool_error(o.spim == "spim" ? "SPIM is not installed (no 'spim' on the PATH)" : "cannot run SPIM: no program " + o.spim,
               kInstall);
    return 4;
  }
  if (!started && !o.trace) {
    tool_error("cannot run SPIM (" + spim + "): " + std::strerror(r.exec_errno),
               r.exec_errno == ENOENT ? kInstall : "");
    return 4;
  }

  // SPIM's command mode, for a traced run and for the replay of an overflow.
  qv::spim::SessionJob session;
  session.spim = spim;
  session.trap = std::string(qv::spim::trap_file());
  session.stack = o.stack;
  session.cpu_limit = o.cpu_limit_set ? o.cpu_limit : qv::run::kSafetyCpuLimit;
  session.preload = job.preload;
  // Traced on the debugging engine.
  if (o.trace) return qv::debug::trace_run(srcs, t, session, o);

  qv::run::Assembly a;
  qv::run::assemble(t, a);
  qv::run::Reporter rep(srcs, t, a, o.asm_out.empty() ? "<assembly>" : o.asm_out);
  proc.run(a.text, a.label_line.size(),
           [&](const std::string& out, const std::string& err) { return rep.load(out, err); }, r);
  // A stack overflow leaves no frames behind: a program that reads no input
  // runs again the same way, to where it overflows, to find them.
  qv::spim::Halt overflow;
  if (!r.interrupted && r.have_record == false && !t.reads &&
      r.run_err.find("Can't expand stack segment") != std::string::npos) {
    qv::spim::SessionJob again = session;
    again.program = a.text;
    again.wall_limit_ms = static_cast<int>(std::min<uint64_t>(uint64_t{o.cpu_limit} * 2000, 1u << 30));
    std::string why;
    if (qv::spim::replay_overflow(again, a.label_line.size(), overflow, why)) rep.set_overflow(&overflow);
  }
  // The instruction limit ends SPIM where it stands: a program that reads
  // no input runs again to exactly that instruction, to find its line.
  qv::spim::Halt limit_stop;
  qv::MarkedAssembly every_line;  // the replay's marking: a label at every line, so any address finds its line
  std::string limit_why;
  if (r.instruction_limit) {
    if (t.reads) {
      limit_why = "the program reads input, so its run is not repeated to find the line";
    } else if (!o.args.empty()) {
      limit_why = "the program has arguments, which a repeated run cannot give it";
    } else {
      qv::spim::SessionJob again = session;
      // The same instructions at the same addresses (labels take no space,
      // the table lies after the program's data), marked at every line: the
      // limit can stop the program at any instruction, not only at one that
      // can fault.
      qv::mark_lines(t.plain, every_line);
      again.program = every_line.text;
      again.wall_limit_ms = static_cast<int>(std::min<uint64_t>(uint64_t{session.cpu_limit} * 2000, 1u << 30));
      if (qv::spim::replay_limit(again, every_line.label_line.size(), r.instructions, r.out_bytes, limit_stop,
                                 limit_why))
        rep.set_limit_stop(&limit_stop, &every_line);
    }
    if (!limit_why.empty()) rep.set_limit_unplaced(limit_why);
  }
  int status = rep.outcome(r, o, qv::run::input_state(0));
  if (o.stats || (o.max_instructions_set && !r.counted)) rep.stats(r, o, seconds_since(began));
  rep.diags().print(2, status == 1);
  if (r.output_closed) {
    signal(SIGPIPE, SIG_DFL);
    raise(SIGPIPE);
  }
  return status;
}
