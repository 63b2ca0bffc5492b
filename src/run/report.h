// Turns what SPIM printed and what the trap handler reported into the
// runner's messages, at the intermediate-code line, and its exit status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "check/diag.h"
#include "run/options.h"
#include "run/program.h"
#include "spim/fault.h"
#include "spim/process.h"
#include "spim/replay.h"

namespace qv::run {

using spim::SpimRun;

// How standard input stood when SPIM stopped.
enum class InputState : uint8_t { unknown, at_end, not_at_end };
InputState input_state(int fd);

class Reporter {
 public:
  Reporter(const std::vector<Source>& srcs, const Translation& t, const Assembly& a, std::string asm_name);

  // The assembler's messages found while loading (SPIM's standard output
  // after the banner and its standard error).  Returns true when there are
  // none, i.e. the program may run.
  bool load(const std::string& out, const std::string& err);

  // The verdict on a run: adds the messages and returns the exit status.
  int outcome(const SpimRun& r, const Options& o, InputState in);

  check::Diags& diags() { return d_; }

  // What a second run up to a stack overflow found (kept by the caller).
  void set_overflow(const spim::Halt* ov) { overflow_ = ov; }
  // Where a second run stopped at the instruction limit, run with the
  // assembly marked as `marks`, or why there was none (kept by the caller).
  void set_limit_stop(const spim::Halt* h, const MarkedAssembly* marks) {
    limit_stop_ = h;
    limit_marks_ = marks;
  }
  void set_limit_unplaced(std::string why) { limit_why_ = std::move(why); }

  // --stats: the instructions the program executed and the run's time, or
  // why instructions were not counted.
  void stats(const SpimRun& r, const Options& o, double seconds);

 private:
  struct Site {
    int32_t plain = -1;  // the translation's line (0-based), -1: none
    int32_t piece = -1;  // its intermediate-code piece, -1: the program's frame
  };
  Site site_of_line(int32_t plain) const;
  check::Loc loc_of(const Site& s) const;
  check::Loc no_line() const;
  std::string text_of(const Site& s) const;
  check::Diag& error_at(const Site& s, std::string msg);
  void asm_note(check::Diag& d, const Site& s, std::string msg, uint32_t col = 0);
  std::vector<Site> call_sites(const std::vector<spim::Frame>& frames) const;
  // Notes for the calls sites[from...], innermost first, long chains shortened.
  void calls(check::Diag& d, const std::vector<Site>& sites, std::size_t from = 0);
  bool stack_overflow(const std::string& size);
  void instruction_limit(const Options& o);
  // Whether the translation's line `plain` lies in the run-time routine
  // (`_var_`) or after it, rather than before it.
  bool in_runtime_routine(int32_t plain) const;
  void exception(const SpimRun& r);
  void spim_message(const std::string& err);

  const std::vector<Source>& srcs_;
  const Translation& t_;
  const Assembly& a_;
  Markers markers_;
  uint32_t asm_file_;
  check::Diags d_;
  const spim::Halt* overflow_ = nullptr;
  const spim::Halt* limit_stop_ = nullptr;
  const MarkedAssembly* limit_marks_ = nullptr;
  std::string limit_why_;
};

}  // namespace qv::run
