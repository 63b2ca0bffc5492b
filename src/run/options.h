// The command line of quorvelin-run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv::run {

// The instruction limit when none is given: far above what an ordinary
// program runs (a second or two of SPIM per hundred million).
inline constexpr uint64_t kDefaultMaxInstructions = 1000000000;
// The CPU-time safety net while instructions are counted and no --cpu-limit
// is given: the instruction limit is meant to come first.
inline constexpr uint32_t kSafetyCpuLimit = 600;

struct Options {
  std::vector<std::string> files;
  std::vector<std::string> args;  // after "--": the program's own
  std::string asm_out;            // -S FILE
  bool check = true;
  uint32_t cpu_limit = 60;
  bool cpu_limit_set = false;     // --cpu-limit given
  uint64_t max_instructions = kDefaultMaxInstructions;
  bool max_instructions_set = false;
  bool stats = false;             // --stats: instructions and time at the end
  uint64_t max_output = uint64_t{64} << 20;
  uint64_t stack = 0;  // 0: SPIM's default
  std::string spim = "spim";
  bool trace = false;              // --trace: every line to standard error
  uint64_t trace_limit = 10000;    // --trace-limit
  std::string trace_file;          // --trace-file: the trace there, not on standard error
  bool help = false;
  bool version = false;
};

// Fills `o`; on a usage error returns false with the message in `error`.
bool parse_options(int argc, char** argv, Options& o, std::string& error);

// The text of --help.
std::string help_text();

}  // namespace qv::run
