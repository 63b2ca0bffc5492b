// quorvelin-debug --dap: the debugger as a debug adapter (the Debug Adapter
// Protocol over a pair of file descriptors), on the same engine and command
// language as the terminal front end.
#pragma once

namespace qv::debug {

// Serves one debugging session; returns the command's exit status.  With
// `launch` false a launch request is refused once its arguments are read,
// before any file is opened or SPIM started: the fuzz target serves so.
int serve_dap(int in_fd, int out_fd, bool launch = true);

}  // namespace qv::debug
