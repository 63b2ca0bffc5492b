// Preloaded into SPIM by quorvelin-debug (LD_PRELOAD): SPIM installs its
// Ctrl-C handler with signal() and leaves it by longjmp, so with the usual
// semantics SIGINT stays blocked after the first interrupt and later ones
// never arrive.  Installed with SA_NODEFER instead, every interrupt stops the
// program.
#include <signal.h>

extern "C" __attribute__((visibility("default"))) sighandler_t signal(int sig, sighandler_t handler) {
  struct sigaction sa {}, old {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART | (sig == SIGINT ? SA_NODEFER : 0);
  if (sigaction(sig, &sa, &old) != 0) return SIG_ERR;
  return old.sa_handler;
}
