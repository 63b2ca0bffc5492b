// Some stops leave no frame chain behind in a batch run: a stack overflow
// stops SPIM without running the trap handler, and the instruction limit
// ends SPIM where it stands.  The program is run again in SPIM's command
// mode, which keeps the machine where it stopped; the handler is then
// started by hand to report the chain as after an exception.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "spim/fault.h"
#include "spim/session.h"

namespace qv::spim {

// Where the replayed run stood.
struct Halt {
  uint32_t pc = 0;              // the instruction that could not run
  Record record;                // $ra, $fp and $sp there (the rest means nothing)
  std::vector<uint32_t> table;  // the label addresses
  std::vector<uint32_t> chain;  // as SpimRun::chain
};

// Runs `job` (a program that reads no input) to its stack overflow.  False,
// with `why`, when it did not overflow again or SPIM failed.
bool replay_overflow(const SessionJob& job, std::size_t labels, Halt& h, std::string& why);

// Runs `job` (a program that reads no input) until it has executed `limit`
// counted instructions (start-up included) and printed `out_bytes` bytes,
// as the batch run that met that limit did.  False, with `why`, when the
// run went otherwise or instructions cannot be counted.
bool replay_limit(const SessionJob& job, std::size_t labels, uint64_t limit, uint64_t out_bytes, Halt& h,
                  std::string& why);

}  // namespace qv::spim
