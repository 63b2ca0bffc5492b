// What the SPIM layer needs of the system: files SPIM opens by name, pipes,
// and starting SPIM with the descriptors it is given.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qv::spim {

// A file SPIM can open by name: an anonymous memory file when the system has
// them, else a temporary file that is removed afterwards.
class NamedText {
 public:
  NamedText() = default;
  NamedText(const NamedText&) = delete;
  NamedText& operator=(const NamedText&) = delete;
  ~NamedText();
  // Creates the file with `text`; `slot` is the descriptor it will have in
  // the child.  Returns false with errno set on failure.
  bool make(const char* what, const std::string& text, int slot);
  const std::string& path() const { return path_; }
  int fd() const { return fd_; }
  int slot() const { return slot_; }  // -1: opened by path, nothing to pass

 private:
  int fd_ = -1;
  int slot_ = -1;
  std::string path_, temp_;
};

struct Pipe {
  int r = -1, w = -1;
  bool open();
  void close_r();
  void close_w();
  ~Pipe() {
    close_r();
    close_w();
  }
};

// Appends what `fd` holds now; returns false at end of file or on error.
bool drain(int fd, std::string& into);

// SPIM copies the program's arguments onto its stack, the file's name first:
// the runner gives it the program as -file kProgramArg, and a session names
// the same file, closed (its program is at kSessionProgramFd, loaded by
// command), so that SPIM cannot load it, stays at its prompt, and lays out
// the stack exactly as for the runner.
inline constexpr const char* kProgramArg = "/proc/self/fd/6";
inline constexpr int kProgramFd = 6;
inline constexpr int kSessionProgramFd = 9;

// A `from` of spawn's: the descriptor `to` is closed in the child.
inline constexpr int kClosed = -2;

// Starts `exe` with `words` as its argv; descriptor from[i] becomes to[i]
// in the child (-1: none; kClosed: closed there), SIGINT, SIGTERM and SIGPIPE at their defaults,
// and at most `cpu_limit` seconds of CPU time; `env` is its whole
// environment; with `own_group` it gets a process group of its own (the
// terminal's Ctrl-C does not reach it).  Returns 0 or an errno.
int spawn(const std::string& exe, std::vector<std::string>& words, const int* from, const int* to, int n,
          uint32_t cpu_limit, pid_t& pid, const std::vector<std::string>& env = {}, bool own_group = false);

}  // namespace qv::spim
