// Procedure entry, return and call.
#include "emit/emit.h"
#include "templates/handlers.h"

namespace qv {

void ntr(State& st) { (void)st; }  // TODO

void rtn(State& st) { (void)st; }  // TODO

void cal(State& st) { (void)st; }  // TODO

}  // namespace qv
