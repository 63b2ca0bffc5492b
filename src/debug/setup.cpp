#include "debug/setup.h"

#include <unistd.h>

#include <cstdlib>

#include "fatal.h"
#include "spim/process.h"
#include "spim/trap.h"

namespace qv::debug {

std::string sigint_library() {
  auto usable = [](const std::string& p) { return !p.empty() && ::access(p.c_str(), R_OK) == 0; };
  if (const char* e = std::getenv("QV_SIGINT_LIB"); e && usable(e)) return e;
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string dir(self, static_cast<std::size_t>(n));
    dir.erase(dir.rfind('/') + 1);
    if (usable(dir + "libqvsigint.so")) return dir + "libqvsigint.so";
  }
#ifdef QV_SIGINT_LIB_INSTALLED
  if (usable(QV_SIGINT_LIB_INSTALLED)) return QV_SIGINT_LIB_INSTALLED;
#endif
  return {};
}

bool prepare(const std::string& spim, uint64_t stack, Loaded& l, std::string& error) {
  try {
    run::translate(l.srcs, l.t);
  } catch (const Fatal& e) {
    error = e.what();
    return false;
  }
  std::string found = spim::find_program(spim);
  if (found.empty()) {
    error = "SPIM is not installed (no '" + spim + "' on the PATH)";
    return false;
  }
  mark_lines(l.t.plain, l.a);
  l.job.spim = found;
  l.job.trap = std::string(spim::trap_file());
  l.job.program = l.a.text;
  l.job.stack = stack;
  l.job.cpu_limit = 600;
  l.job.own_group = true;
  l.job.preload = sigint_library();
  return true;
}

}  // namespace qv::debug
