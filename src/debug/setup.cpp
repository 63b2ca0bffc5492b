#include "debug/setup.h"

#include "fatal.h"
#include "spim/instructions.h"
#include "spim/process.h"
#include "spim/trap.h"

namespace qv::debug {

bool prepare(const std::string& spim, uint64_t stack, const std::vector<std::string>& args, Loaded& l,
             std::string& error) {
  try {
    run::translate(l.srcs, l.t);
  } catch (const Fatal& e) {
    error = e.what();
    return false;
  }
  std::string found = spim::find_program(spim);
  if (found.empty()) {
    error = spim.find('/') == std::string::npos
                ? "SPIM is not installed (no '" + spim + "' on the PATH): install it with 'sudo apt-get install spim', or "
                  "name it with the launch configuration's \"spim\""
                : "SPIM is not installed at " + spim + ": install it with 'sudo apt-get install spim', or correct the "
                  "launch configuration's \"spim\"";
    return false;
  }
  mark_lines(l.t.plain, l.a);
  l.job.spim = found;
  l.job.trap = std::string(spim::trap_file());
  l.job.program = l.a.text;
  l.job.stack = stack;
  l.job.args = args;
  l.job.cpu_limit = 600;
  l.job.own_group = true;
  l.job.preload = spim::preload_library();
  return true;
}

}  // namespace qv::debug
