// Variable addressing and memory access.
#include "emit/emit.h"
#include "templates/handlers.h"

namespace qv {

void var(State& st) { (void)st; }  // TODO

void val(State& st) { (void)st; }  // TODO

void valf(State& st) { (void)st; }  // TODO

void ndx(State& st) { (void)st; }  // TODO

void sel(State& st) { (void)st; }  // TODO

void sto(State& st) { (void)st; }  // TODO

void mov(State& st) { (void)st; }  // TODO

}  // namespace qv
