// quorvelin-run --trace: the program run on the debugging engine with a
// breakpoint at every line, each line written to standard error as it runs.
#pragma once

#include <cstdint>
#include <vector>

#include "run/options.h"
#include "run/program.h"
#include "spim/session.h"

namespace qv::engine {

// Runs the translated program under `job` (its program is filled in here),
// tracing up to `o.trace_limit` lines; returns the runner's exit status,
// with its messages written to standard error.
int trace_run(const std::vector<run::Source>& srcs, const run::Translation& t, spim::SessionJob job,
              const run::Options& o);

}  // namespace qv::engine
