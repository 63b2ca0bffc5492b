// quorvelin: translates intermediate code into MIPS assembly for SPIM.
//
//   quorvelin file [| file] > output
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "emit/banner.h"
#include "input/line_reader.h"
#include "dispatch/read_ip.h"
#include "state.h"

namespace {

void say_error(const std::string& msg) {
  std::string line = msg + "\n";
  ssize_t r = ::write(2, line.data(), line.size());
  (void)r;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed pipe on standard output is a write error we report, not a signal.
  signal(SIGPIPE, SIG_IGN);

  qv::Out out(1, "output");
  qv::Out err(2, "standard error");
  qv::State st(out, err);
  try {
    if (argc <= 1) {
      qv::CopyWrite(out);
      qv::Usage(out);
      out.flush();
      return 1;
    }
    for (int i = 1; i < argc; i++) {
      int fd = ::open(argv[i], O_RDONLY);
      if (fd < 0) {
        // Also on standard error: standard output is usually redirected,
        // and may fail.
        std::string msg = std::string("Command Line Error: Input file ") + argv[i] + " not found.";
        out.put("Command Line Error: Input file %s not found.\n", std::string_view(argv[i]));
        try {
          out.flush();
        } catch (const qv::Fatal&) {
          say_error(msg);
          throw;
        }
        say_error(msg);
        return 1;
      }
      qv::LineReader ip(fd, argv[i], &out);
      try {
        qv::read_ip(st, ip, i - 1);
      } catch (...) {
        ::close(fd);
        throw;
      }
      ::close(fd);
    }
    out.flush();
  } catch (const qv::Fatal& e) {
    try {
      out.flush();
    } catch (const qv::Fatal&) {
    }
    say_error(e.what());
    return 1;
  }
  return 0;
}
