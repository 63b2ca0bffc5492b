// Constants, string literals and heap allocation.
#include "emit/emit.h"
#include "templates/handlers.h"

namespace qv {

void cst(State& st) { (void)st; }  // TODO

void cstf(State& st) { (void)st; }  // TODO

void str1(State& st) { (void)st; }  // TODO

void alc(State& st) { (void)st; }  // TODO

}  // namespace qv
