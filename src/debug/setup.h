// What every front end of the debugger does before its first command: finds
// SPIM and the library preloaded into it, and loads a translated program.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "debug/engine_names.h"
#include "emit/marks.h"
#include "run/program.h"
#include "spim/session.h"

namespace qv::debug {

// A program read, translated and marked, ready for an engine.
struct Loaded {
  std::vector<run::Source> srcs;
  run::Translation t;
  MarkedAssembly a;
  spim::SessionJob job;
};

// Translates `l.srcs` (read and checked by the caller) and prepares
// SPIM's job; false with `error` when that fails.
// `args` are the program's arguments.
bool prepare(const std::string& spim, uint64_t stack, const std::vector<std::string>& args, Loaded& l,
             std::string& error);

}  // namespace qv::debug
