// quorvelin: translates intermediate code into MIPS assembly for SPIM.
//
//   quorvelin file [| file] > output
//   quorvelin --help | --version
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "emit/banner.h"
#include "input/line_reader.h"
#include "dispatch/read_ip.h"
#include "state.h"
#include "version.h"

namespace {

const char* const kHelp =
    "Usage: quorvelin FILE... > OUTPUT.s\n"
    "Translates the intermediate-code FILEs, read as one program in the order\n"
    "given, into one MIPS assembly program for SPIM, on standard output.\n"
        "\n"
    "  --help      show this text (only as the sole argument)\n"
    "  --version   show the version (only as the sole argument)\n"
    "\n"
    "Companions: quorvelin-check (find what SPIM would reject), quorvelin-run\n"
    "(check, translate and run), quorvelin-debug, quorvelin-test, quorvelin-lsp.\n"
    "\n"
    "See quorvelin(1); the intermediate code is described in quorvelin-ic(5).\n"
    "Exit status: 0 translated (mistakes in the code are reported in the output),\n"
    "1 no FILE, or a file that could not be read, or a failed write.\n";

// `quorvelin --help` and `quorvelin --version`, and only those exact command
// lines: anywhere else such a word names a file, as it always has.
int answer_option(const char* arg) {
  std::string_view a = arg;
  if (a != "--help" && a != "--version") return -1;
  std::string text = a == "--help" ? std::string(kHelp) : std::string("quorvelin " QV_VERSION "\n");
  qv::Out out(1, "output");
  try {
    out.put("%s", std::string_view(text));
    out.flush();
  } catch (const qv::Fatal& e) {
    std::string m = std::string(e.what()) + "\n";
    ssize_t r = ::write(2, m.data(), m.size());
    (void)r;
    return 1;
  }
  return 0;
}

void say_error(const std::string& msg) {
  std::string line = msg + "\n";
  ssize_t r = ::write(2, line.data(), line.size());
  (void)r;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed pipe on standard output is a write error we report, not a signal.
  signal(SIGPIPE, SIG_IGN);
  if (argc == 2) {
    int status = answer_option(argv[1]);
    if (status >= 0) return status;
  }

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
