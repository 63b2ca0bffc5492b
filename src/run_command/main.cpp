// quorvelin-run: checks an intermediate program, translates it and runs it in
// SPIM, with an exit status that says how the run ended and messages at the
// intermediate-code line.
//
//   quorvelin-run [OPTIONS] FILE... [-- PROGRAM-ARGS]
#include <signal.h>

#include <string>

#include "check/diag.h"
#include "engine/trace.h"
#include "emit/out.h"
#include "run/execute.h"
#include "run/options.h"
#include "version.h"

namespace {

void tool_error(const std::string& msg) {
  qv::check::tool_message("quorvelin-run", qv::check::Severity::error, msg);
}

}  // namespace

int main(int argc, char** argv) {
  // A closed output pipe is seen as a failed write: SPIM is stopped first,
  // then the runner ends as SIGPIPE ends a program.
  signal(SIGPIPE, SIG_IGN);

  qv::run::Options o;
  std::string error;
  if (!qv::run::parse_options(argc, argv, o, error)) {
    tool_error(error);
    return 4;
  }
  if (o.help) return qv::write_all(1, qv::run::help_text()) ? 0 : 4;
  if (o.version) return qv::write_all(1, std::string("quorvelin-run ") + QV_VERSION + "\n") ? 0 : 4;

  qv::run::Outcome out;
  int status = qv::run::execute(o, out, [&](const std::vector<qv::run::Source>& srcs, const qv::run::Translation& t,
                                            qv::spim::SessionJob session) {
    return qv::engine::trace_run(srcs, t, std::move(session), o);
  });
  if (out.output_closed) {
    signal(SIGPIPE, SIG_DFL);
    raise(SIGPIPE);
  }
  return status;
}
