// Running SPIM: one process that loads the program, reports that loading is
// over and waits for a go-ahead before any of the program runs.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qv::spim {

struct SpimJob {
  std::string spim;                // the executable
  std::string trap;                // the trap file's text
  std::vector<std::string> args;   // the program's arguments
  uint64_t stack = 0;              // -lstack; 0: SPIM's default
  uint32_t cpu_limit = 60;         // seconds of CPU time
  uint64_t max_output = 64 << 20;  // bytes of program output
  std::string preload;             // a library SPIM loads first (LD_PRELOAD), "": none
  uint64_t instruction_limit = 0;  // counted instructions SPIM may execute (start-up included), 0: no limit
  uint32_t counted_cpu_limit = 0;  // seconds of CPU time once instructions are seen counted; 0: cpu_limit
};

struct SpimRun {
  bool started = false;      // SPIM was executed
  int exec_errno = 0;        // why not
  bool loaded = false;       // the start-up code reported that loading is over
  bool rejected = false;     // the load was not approved: nothing of the program ran
  bool interrupted = false;  // SIGINT or SIGTERM reached the runner
  bool output_limit = false; // stopped at max_output
  bool output_closed = false;// our standard output went away (a write to it failed)
  int output_errno = 0;      // why: EPIPE for a closed pipe, ENOSPC for a full disk, ...
  bool exited = false;       // SPIM exited (else: killed by `sig`)
  int status = 0;
  int sig = 0;
  std::string load_out, load_err;  // what SPIM printed while loading
  std::string run_err;             // standard error after the go-ahead
  uint64_t out_bytes = 0;
  std::vector<uint32_t> table;     // the label addresses
  bool have_record = false;        // the exception handler reported
  uint32_t record[6] = {};         // Cause, EPC, BadVAddr, $ra, $fp, $sp
  std::vector<uint32_t> chain;     // per frame from $fp outward: saved $fp, return address
  bool counted = false;            // `instructions` is SPIM's exact count
  uint64_t instructions = 0;       // instructions executed, SPIM's start-up included
  bool instruction_limit = false;  // the instruction limit stopped the program
};

// Decides, given what SPIM printed while loading, whether the program may run.
using Approve = std::function<bool(const std::string& out, const std::string& err)>;

// Finds `name` on the PATH (or takes it as a path when it holds a '/').
// Returns the empty string when there is no such executable.
std::string find_program(const std::string& name);

// One run of SPIM.  start() starts it at once (it loads the trap file
// meanwhile); run() hands it the program, and SPIM reports when loading is
// over and waits for `approve` before any of the program runs.  The
// program's output goes to standard output as it comes; standard input is
// SPIM's.  SIGINT and SIGTERM stop SPIM.
class SpimProcess {
 public:
  SpimProcess();
  ~SpimProcess();
  SpimProcess(const SpimProcess&) = delete;
  SpimProcess& operator=(const SpimProcess&) = delete;

  // False, with r.exec_errno, when SPIM could not be started.
  bool start(const SpimJob& job, SpimRun& r);
  // `labels`: the number of labels in the program's table.
  void run(const std::string& program, std::size_t labels, const Approve& approve, SpimRun& r);
  // Stops a SPIM that was started and not run (the program did not build).
  void abort();

 private:
  struct Impl;
  Impl* p_;
};

}  // namespace qv::spim
