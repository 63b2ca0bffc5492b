// The page SPIM's preloaded library (preload/spim_preload.cpp) shares with
// the process that started SPIM: the instruction count and its limit.
//
// SPIM calls getitimer(ITIMER_REAL) once before each instruction it
// executes; the library counts those calls.  A breakpoint that stops the
// program costs one count and executes nothing.
#pragma once

#include <cstdint>

namespace qv::spim {

// The descriptor the page is handed to SPIM as.
inline constexpr int kCounterFd = 8;
// The status SPIM ends with when the limit stops a batch run.
inline constexpr int kLimitStatus = 87;

struct CounterPage {
  char magic[8];        // "qvcount": written by the starter before SPIM runs
  uint64_t limit;       // starter: stop before the instruction after this many; 0: none
  uint32_t on_limit;    // starter: kEndRun or kInterrupt
  uint32_t state;       // library: kLoaded | kTimerSeen
  uint64_t count;       // library: instructions so far
  uint32_t stops;       // library: how often the limit stopped SPIM
  // Checkpoints.  SIGUSR1 at SPIM's prompt parks a copy of SPIM there
  // (parked_pid); SIGUSR2 to a parked copy makes a copy of it the SPIM that
  // answers (live_pid), the parked one staying for later.  `handed` counts
  // both answers.
  int32_t parked_pid;   // library: the copy parked, -1: none could be made
  int32_t live_pid;     // library: the copy woken, -1: none could be made
  uint32_t handed;      // library
};

inline constexpr char kCounterMagic[8] = "qvcount";
inline constexpr uint32_t kEndRun = 0;     // _exit(kLimitStatus): batch runs
inline constexpr uint32_t kInterrupt = 1;  // SIGINT: SPIM's command mode returns to its prompt
inline constexpr uint32_t kLoaded = 1;     // the library is in SPIM
inline constexpr uint32_t kTimerSeen = 2;  // SPIM started its timer (signal(SIGALRM, SIG_IGN)): counting works

}  // namespace qv::spim
