// Counting SPIM's instructions: the library preloaded into SPIM and the
// page it shares with the process that starts SPIM (see counter.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "spim/counter.h"

namespace qv::spim {

// The library preloaded into SPIM (preload/spim_preload.cpp): named by
// QV_SPIM_PRELOAD (set and empty: none), else beside the running command
// (a build tree), else in the installed tree the command lies in, else where
// it was installed; empty when none is found.
std::string preload_library();

// "1 instruction", "N instructions".
std::string instructions_text(uint64_t n);

// The descriptor SPIM finds the library at (LD_PRELOAD names it so).
inline constexpr int kPreloadFd = 7;

class InstructionCounter;

// What SPIM is started with to load `library` ("": none): the environment
// (LD_PRELOAD=/proc/self/fd/7, by descriptor, so that the environment SPIM
// copies onto the program's stack is the same wherever the library lies; the
// library takes it out again) and `counter`'s page, made here.  Returns the
// library's descriptor, to hand SPIM as kPreloadFd and close after the
// spawn; -1 when there is none (no page then either).
int hand_over(const std::string& library, InstructionCounter& counter, std::vector<std::string>& env);

// Removes from SPIM's standard error the dynamic loader's complaint about a
// library it could not preload (SPIM then runs as without it).
void drop_loader_complaint(std::string& err);

// The starter's side of the shared page.
class InstructionCounter {
 public:
  InstructionCounter() = default;
  ~InstructionCounter();
  InstructionCounter(const InstructionCounter&) = delete;
  InstructionCounter& operator=(const InstructionCounter&) = delete;

  // Makes the page; false when the system has no way to (counts are then
  // not available).
  bool open();
  bool is_open() const { return page_ != nullptr; }
  // The descriptor to hand SPIM as kCounterFd, -1: none.
  int fd() const { return fd_; }
  // Whether the count is SPIM's: the library was loaded and saw SPIM start
  // its timer.
  bool available() const;
  // Whether the library is in SPIM at all.
  bool loaded() const;
  uint64_t count() const;
  uint32_t stops() const;
  // Stop before the instruction after `raw` counted ones (0: none).
  void set_limit(uint64_t raw, uint32_t on_limit);
  uint64_t limit() const;
  // A new program run: the count back to 0 (SPIM stands at its prompt).
  void reset();
  // The library's answers about checkpoints (counter.h): `handed` changes
  // with each.
  uint32_t handed() const;
  int32_t parked_pid() const;
  int32_t live_pid() const;

 private:
  int fd_ = -1;
  CounterPage* page_ = nullptr;
};

}  // namespace qv::spim
