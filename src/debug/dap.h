// quorvelin-debug --dap: the debugger as a debug adapter (the Debug Adapter
// Protocol over a pair of file descriptors), on the same engine and command
// language as the terminal front end.
#pragma once

namespace qv::debug {

// Serves one debugging session; returns the command's exit status.
int serve_dap(int in_fd, int out_fd);

}  // namespace qv::debug
