// One run of quorvelin-run, from its options to its exit status: the
// command's own, and each test of quorvelin-test (in a process of its own,
// whose standard input, output and error are the test's).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "run/options.h"
#include "run/program.h"
#include "spim/session.h"

namespace qv::run {

// What a run came to, besides what it printed.
struct Outcome {
  int status = 0;               // the exit status (see help_text())
  bool counted = false;         // `instructions` is exact
  uint64_t instructions = 0;    // the program's, SPIM's start-up left out
  double seconds = 0;           // wall time from SPIM's start to its end
  std::string error_file;       // the first error's place, "": none
  uint32_t error_line = 0;
  std::string error;            // its message
  bool output_closed = false;   // standard output is a closed pipe
};

// Runs a traced program (the debugger's engine does it; the runner's
// library cannot reach it).
using Tracer = std::function<int(const std::vector<Source>&, const Translation&, spim::SessionJob)>;

// Checks, translates and runs the program of `o` in SPIM, the program's
// output on standard output, the messages on standard error.  With
// o.trace, `trace` runs it.
int execute(const Options& o, Outcome& out, const Tracer& trace = {});

}  // namespace qv::run
