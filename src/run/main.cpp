// quorvelin-run: translates an intermediate program and runs it in SPIM.
#include <cstdio>
#include <cstring>

#include "version.h"

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("quorvelin-run %s\n", QV_VERSION);
    return 0;
  }
  std::fprintf(stderr, "quorvelin-run: not built yet\n");
  return 4;
}
