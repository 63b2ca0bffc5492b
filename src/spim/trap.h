// The trap file quorvelin-run gives SPIM (-exception_file): the kernel's
// exception handler and the start-up code, in place of SPIM's own.
//
// The control protocol, on two descriptors SPIM inherits:
//   fd 3 (SPIM -> runner): "R" once the whole program has loaded; after an
//        exception the record Cause, EPC, BadVAddr, $ra, $fp, $sp (6 words),
//        then the label table (4 bytes per label), then for each frame of the
//        chain from $fp outward its saved frame pointer and return address
//        (2 words); words in host order.
//   fd 4 (runner -> SPIM): one byte, the go-ahead; end of file instead stops
//        the program before any of it has run.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>
#include <string>

namespace qv::spim {

inline constexpr int kCtlFd = 3;
inline constexpr int kGoFd = 4;
// The status the handler exits with after writing its record.
inline constexpr int kTrapStatus = 86;
// The instructions the start-up code executes before the program's `main`
// (SPIM counts them as the program's; a test holds this in step).
inline constexpr uint64_t kStartupInstructions = 18;

std::string_view trap_file();

// Labels the trap file defines: a program must not define them.
std::vector<std::string> trap_labels();

}  // namespace qv::spim
