// The debugging engine (src/engine), by the names the debugger's front ends
// use for it.
#pragma once

#include "engine/engine.h"

namespace qv::debug {

using engine::Breakpoint;
using engine::Engine;
using engine::FrameInfo;
using engine::Stop;

}  // namespace qv::debug
