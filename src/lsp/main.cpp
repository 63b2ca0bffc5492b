// quorvelin-lsp: a language server for the intermediate code, on standard
// input and output.
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "lsp/server.h"
#include "version.h"

int main(int argc, char** argv) {
  // A client that goes away is a failed write we end on, not a signal.
  signal(SIGPIPE, SIG_IGN);
  if (argc > 1) {
    std::string_view a = argv[1];
    std::string text;
    int status = 0;
    if (a == "--version") {
      text = "quorvelin-lsp " QV_VERSION "\n";
    } else {
      text = std::string(a == "--help" ? "" : "quorvelin-lsp: unknown option " + std::string(a) + "\n") +
             "usage: quorvelin-lsp   (speaks the Language Server Protocol on standard input and output)\n"
             "See quorvelin-lsp(1).\n";
      status = a == "--help" ? 0 : 2;
    }
    if (!qv::write_all(status ? 2 : 1, text)) return 1;
    return status;
  }
  qv::Out out(1, "output");
  qv::lsp::Reader in(0);
  qv::lsp::Server server(in, out);
  try {
    return server.run();
  } catch (const qv::Fatal& e) {
    std::string m = std::string(e.what()) + "\n";
    // The status says it failed whether or not the message gets out.
    (void)qv::write_all(2, m);
    return 1;
  }
}
