// Console input and output.
#include "emit/emit.h"
#include "templates/handlers.h"

namespace qv {

void pint(State& st) { (void)st; }  // TODO

void gint(State& st) { (void)st; }  // TODO

void pflt(State& st) { (void)st; }  // TODO

void gflt(State& st) { (void)st; }  // TODO

void pbln(State& st) { (void)st; }  // TODO

void gbln(State& st) { (void)st; }  // TODO

void gchr(State& st) { (void)st; }  // TODO

void pchr(State& st) { (void)st; }  // TODO

void pln(State& st) { (void)st; }  // TODO

void pstr(State& st) { (void)st; }  // TODO

void gstr(State& st) { (void)st; }  // TODO

void tfl(State& st) { (void)st; }  // TODO

}  // namespace qv
