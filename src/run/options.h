// The command line of quorvelin-run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv::run {

struct Options {
  std::vector<std::string> files;
  std::vector<std::string> args;  // after "--": the program's own
  std::string asm_out;            // -S FILE
  bool check = true;
  uint32_t cpu_limit = 60;
  uint64_t max_output = uint64_t{64} << 20;
  uint64_t stack = 0;  // 0: SPIM's default
  std::string spim = "spim";
  bool trace = false;              // --trace: every line to standard error
  uint64_t trace_limit = 10000;    // --trace-limit
  bool help = false;
  bool version = false;
};

// Fills `o`; on a usage error returns false with the message in `error`.
bool parse_options(int argc, char** argv, Options& o, std::string& error);

// The text of --help.
std::string help_text();

}  // namespace qv::run
