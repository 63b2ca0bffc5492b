// quorvelin-check: reports what in an intermediate program will not assemble
// or run, at the line where it was written.
#include <cstdio>
#include <cstring>

#include "version.h"

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("quorvelin-check %s\n", QV_VERSION);
    return 0;
  }
  std::fprintf(stderr, "quorvelin-check: not built yet\n");
  return 2;
}
