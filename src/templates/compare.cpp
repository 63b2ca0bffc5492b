// Comparisons, branches and argument pushes.
#include "emit/emit.h"
#include "templates/handlers.h"

namespace qv {

void ltn(State& st) { (void)st; }  // TODO

void ltnf(State& st) { (void)st; }  // TODO

void leq(State& st) { (void)st; }  // TODO

void leqf(State& st) { (void)st; }  // TODO

void gtr(State& st) { (void)st; }  // TODO

void gtrf(State& st) { (void)st; }  // TODO

void geq(State& st) { (void)st; }  // TODO

void geqf(State& st) { (void)st; }  // TODO

void eql(State& st) { (void)st; }  // TODO

void neq(State& st) { (void)st; }  // TODO

void brf(State& st) { (void)st; }  // TODO

void bra(State& st) { (void)st; }  // TODO

void psh(State& st) { (void)st; }  // TODO

void pshf(State& st) { (void)st; }  // TODO

}  // namespace qv
