// Running tests: each in a process of its own (a fork of this one that runs
// the program as quorvelin-run does, with the test's input and its output
// and messages captured), several at once, each stopped at its wall-clock
// limit with every process it started.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "run/execute.h"
#include "test/suite.h"

namespace qv::test {

struct PoolOptions {
  int jobs = 1;
  std::string spim = "spim";
  std::string compiler;  // "CMD {src} {out}", "": the tests are intermediate code
};

// One run of one test.
struct TestRun {
  run::Outcome o;
  std::string out;           // the program's standard output
  std::string err;           // quorvelin-run's messages (and the compiler's)
  bool compiled = true;      // the compiler succeeded (or there was none)
  bool timed_out = false;    // stopped at the test's timeout
  bool lost = false;         // its process ended without a result
  double seconds = 0;
};

// Runs `runs` (indices into `tests`, a test may come more than once) with
// opts.jobs at a time; `done` is called in this process as each ends.
// Returns false when interrupted (SIGINT or SIGTERM): every process started
// is stopped, and the rest is not run.
bool run_tests(const std::vector<Test>& tests, const std::vector<std::size_t>& runs, const PoolOptions& opts,
               const std::function<void(std::size_t run, TestRun&)>& done);

// `s` as one word of the shell, quoted when it needs to be.
std::string shell_quote(const std::string& s);
// The compiler's command line for `src` into `out` ({src} and {out} in `cmd`).
std::string compiler_command(const std::string& cmd, const std::string& src, const std::string& out);

// The limit on what is kept of a run's output: what floods past it is cut
// (the runner's own --max-output stops the program at 64M).
inline constexpr std::size_t kKeptOutput = std::size_t{64} << 20;

}  // namespace qv::test
