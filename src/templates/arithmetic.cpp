// Arithmetic and logic.
#include "emit/emit.h"
#include "templates/handlers.h"

namespace qv {

void add(State& st) { (void)st; }  // TODO

void sub(State& st) { (void)st; }  // TODO

void mul(State& st) { (void)st; }  // TODO

void div1(State& st) { (void)st; }  // TODO

void rem(State& st) { (void)st; }  // TODO

void and1(State& st) { (void)st; }  // TODO

void or1(State& st) { (void)st; }  // TODO

void addf(State& st) { (void)st; }  // TODO

void subf(State& st) { (void)st; }  // TODO

void mulf(State& st) { (void)st; }  // TODO

void div1f(State& st) { (void)st; }  // TODO

void neg(State& st) { (void)st; }  // TODO

void negf(State& st) { (void)st; }  // TODO

void not1(State& st) { (void)st; }  // TODO

}  // namespace qv
