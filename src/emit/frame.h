// The frame of every generated program: prologue, the _var_ routine, epilogue.
#pragma once

#include "state.h"

namespace qv {

void gen_header(State& st);
void var_procedure(State& st);
void end1(State& st);  // opcode "end"

}  // namespace qv
