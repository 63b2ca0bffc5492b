#include "run/execute.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "check/check.h"
#include "emit/out.h"
#include "fatal.h"
#include "run/report.h"
#include "spim/instructions.h"
#include "spim/process.h"
#include "spim/replay.h"
#include "spim/trap.h"

namespace qv::run {

namespace {

using check::Severity;

// Messages of the runner itself ("quorvelin-run: error: ...").
void tool_error(const std::string& msg, const std::string& note = {}) {
  check::tool_message("quorvelin-run", Severity::error, msg, note);
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

int execute(const Options& o, Outcome& out, const Tracer& trace) {
  std::string error;
  // SPIM starts first: it gets going while the program is checked and
  // translated, and is handed the program through a pipe.
  std::string spim_path = spim::find_program(o.spim);
  spim::SpimJob job;
  job.spim = spim_path;
  job.trap = std::string(spim::trap_file());
  job.args = o.args;
  job.stack = o.stack;
  job.cpu_limit = o.cpu_limit;
  job.max_output = o.max_output;
  job.preload = spim::preload_library();
  // Counted, the instruction limit decides and CPU time is a safety net.
  job.instruction_limit = o.max_instructions + spim::kStartupInstructions;
  if (!o.cpu_limit_set) job.counted_cpu_limit = kSafetyCpuLimit;
  timespec began{};
  clock_gettime(CLOCK_MONOTONIC, &began);
  spim::SpimProcess proc;
  spim::SpimRun r;
  // A traced run goes through SPIM's command mode instead (below).
  bool started = !spim_path.empty() && !o.trace && proc.start(job, r);

  // Read once: the checker and the translation see the same bytes.
  std::vector<Source> srcs;
  if (!read_sources(o.files, srcs, error)) {
    tool_error(error);
    return out.status = 4;
  }

  bool check_failed = false;
  if (o.check) check_failed = check_sources(o.files, srcs, o.stack, "quorvelin-run");

  Translation t;
  try {
    translate(srcs, t);
  } catch (const Fatal& e) {
    tool_error(e.what());
    return out.status = 4;
  }
  if (!o.asm_out.empty() && !write_file(o.asm_out, t.plain, error)) {
    tool_error(error);
    return out.status = 4;
  }
  if (check_failed) return out.status = 1;

  if (spim_path.empty()) {
    tool_error(o.spim == "spim" ? "SPIM is not installed (no 'spim' on the PATH)" : "cannot run SPIM: no program " + o.spim,
               kInstall);
    return out.status = 4;
  }
  if (!started && !o.trace) {
    tool_error("cannot run SPIM (" + spim_path + "): " + std::strerror(r.exec_errno),
               r.exec_errno == ENOENT ? kInstall : "");
    return out.status = 4;
  }

  // SPIM's command mode, for a traced run and for the replay of an overflow.
  spim::SessionJob session;
  session.spim = spim_path;
  session.trap = std::string(spim::trap_file());
  session.stack = o.stack;
  session.args = o.args;
  session.cpu_limit = o.cpu_limit_set ? o.cpu_limit : kSafetyCpuLimit;
  session.preload = job.preload;
  // Traced on the debugging engine.
  if (o.trace) return out.status = trace(srcs, t, session);

  Assembly a;
  assemble(t, a);
  Reporter rep(srcs, t, a, o.asm_out.empty() ? "<assembly>" : o.asm_out);
  proc.run(a.text, a.label_line.size(),
           [&](const std::string& load_out, const std::string& load_err) { return rep.load(load_out, load_err); }, r);
  // A stack overflow leaves no frames behind: a program that reads no input
  // runs again the same way, to where it overflows, to find them.
  spim::Halt overflow;
  if (!r.interrupted && r.have_record == false && !t.reads &&
      r.run_err.find("Can't expand stack segment") != std::string::npos) {
    spim::SessionJob again = session;
    again.program = a.text;
    again.wall_limit_ms = static_cast<int>(std::min<uint64_t>(uint64_t{o.cpu_limit} * 2000, 1u << 30));
    std::string why;
    if (spim::replay_overflow(again, a.label_line.size(), overflow, why)) rep.set_overflow(&overflow);
  }
  // The instruction limit ends SPIM where it stands: a program that reads
  // no input runs again to exactly that instruction, to find its line.
  spim::Halt limit_stop;
  MarkedAssembly every_line;  // the replay's marking: a label at every line, so any address finds its line
  std::string limit_why;
  if (r.instruction_limit) {
    if (t.reads) {
      limit_why = "the program reads input, so its run is not repeated to find the line";
    } else {
      spim::SessionJob again = session;
      // The same instructions at the same addresses (labels take no space,
      // the table lies after the program's data), marked at every line: the
      // limit can stop the program at any instruction, not only at one that
      // can fault.
      mark_lines(t.plain, every_line);
      again.program = every_line.text;
      again.wall_limit_ms = static_cast<int>(std::min<uint64_t>(uint64_t{session.cpu_limit} * 2000, 1u << 30));
      if (spim::replay_limit(again, every_line.label_line.size(), r.instructions, r.out_bytes, limit_stop,
                                 limit_why))
        rep.set_limit_stop(&limit_stop, &every_line);
    }
    if (!limit_why.empty()) rep.set_limit_unplaced(limit_why);
  }
  int status = rep.outcome(r, o, input_state(0));
  out.seconds = seconds_since(began);
  if (o.stats || (o.max_instructions_set && !r.counted)) rep.stats(r, o, out.seconds);
  out.status = status;
  out.counted = r.counted;
  if (r.counted) out.instructions = r.instructions > spim::kStartupInstructions ? r.instructions - spim::kStartupInstructions : 0;
  out.output_closed = r.output_closed && r.output_errno == EPIPE;
  for (const check::Diag& d : rep.diags().all())
    if (d.severity == check::Severity::error) {
      if (d.loc.line) {
        out.error_file = rep.diags().file_names[d.loc.file];
        out.error_line = d.loc.line;
      }
      out.error = d.message;
      break;
    }
  rep.diags().print(2, status == 1);
  return status;
}

}  // namespace qv::run
