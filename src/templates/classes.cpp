// Class tables and trace points.
#include "emit/emit.h"
#include "templates/handlers.h"

namespace qv {

void cls(State& st) { (void)st; }  // TODO

void mth(State& st) { (void)st; }  // TODO

void dbg(State& st) { (void)st; }  // TODO

}  // namespace qv
