// A stack overflow stops SPIM without running the trap handler, so the run
// that overflowed leaves no frame chain behind.  The program is run again in
// SPIM's command mode, which keeps the machine after the overflow; the
// handler is then started by hand to report the chain as after an exception.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "spim/fault.h"
#include "spim/session.h"

namespace qv::spim {

struct Overflow {
  uint32_t pc = 0;              // the instruction that could not grow the stack
  Record record;                // $ra, $fp and $sp there (the rest means nothing)
  std::vector<uint32_t> table;  // the label addresses
  std::vector<uint32_t> chain;  // as SpimRun::chain
};

// Runs `job` (a program that reads no input) to its stack overflow.  False,
// with `why`, when it did not overflow again or SPIM failed.
bool replay_overflow(const SessionJob& job, std::size_t labels, Overflow& ov, std::string& why);

}  // namespace qv::spim
