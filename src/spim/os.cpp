#include "spim/os.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "emit/out.h"

namespace qv::spim {

NamedText::~NamedText() {
  if (fd_ >= 0) ::close(fd_);
  if (!temp_.empty()) ::unlink(temp_.c_str());
}

bool NamedText::make(const char* what, const std::string& text, int slot) {
#ifdef MFD_CLOEXEC
  static const bool proc = ::access("/proc/self/fd", X_OK) == 0;
  if (proc) {
    fd_ = ::memfd_create(what, MFD_CLOEXEC);
    if (fd_ >= 0) {
      path_ = "/proc/self/fd/" + std::to_string(slot);
      slot_ = slot;
      return write_all(fd_, text.data(), text.size());
    }
  }
#endif
  const char* dir = std::getenv("TMPDIR");
  std::string t = std::string(dir && *dir ? dir : "/tmp") + "/quorvelin-run-XXXXXX";
  std::vector<char> name(t.begin(), t.end());
  name.push_back('\0');
  fd_ = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0) return false;
  temp_ = path_ = name.data();
  return write_all(fd_, text.data(), text.size());
}

bool Pipe::open() {
  int p[2];
  if (::pipe2(p, O_CLOEXEC) != 0) return false;
  r = p[0];
  w = p[1];
  return true;
}

void Pipe::close_r() {
  if (r >= 0) ::close(r);
  r = -1;
}

void Pipe::close_w() {
  if (w >= 0) ::close(w);
  w = -1;
}

bool drain(int fd, std::string& into) {
  char buf[1 << 16];
  for (;;) {
    ssize_t r = ::read(fd, buf, sizeof buf);
    if (r > 0) {
      into.append(buf, static_cast<std::size_t>(r));
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno == EAGAIN) return true;
    return false;
  }
}


int spawn(const std::string& exe, std::vector<std::string>& words, const int* from, const int* to, int n,
          uint32_t cpu_limit, pid_t& pid, const std::vector<std::string>& env, bool own_group) {
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  // posix_spawn starts SPIM without copying the caller's memory.  Every
  // descriptor SPIM gets is first moved above the ones it is given as, so
  // that no move overwrites another's source.
  std::vector<int> high(static_cast<std::size_t>(n), -1);
  for (int i = 0; i < n; i++) high[i] = from[i] < 0 ? -1 : ::fcntl(from[i], F_DUPFD_CLOEXEC, 20);
  posix_spawn_file_actions_t fa;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&fa);
  posix_spawnattr_init(&attr);
  for (int i = 0; i < n; i++) {
    if (high[i] >= 0) posix_spawn_file_actions_adddup2(&fa, high[i], to[i]);
    // (glibc ignores the close of a descriptor that is not open.)
    if (from[i] == kClosed) posix_spawn_file_actions_addclose(&fa, to[i]);
  }
  sigset_t def;
  sigemptyset(&def);
  sigaddset(&def, SIGINT);
  sigaddset(&def, SIGTERM);
  sigaddset(&def, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &def);
  short flags = POSIX_SPAWN_SETSIGDEF;
  if (own_group) {
    posix_spawnattr_setpgroup(&attr, 0);
    flags |= POSIX_SPAWN_SETPGROUP;
  }
  posix_spawnattr_setflags(&attr, flags);
  // The CPU limit is inherited: set it on the caller for the moment of the
  // spawn (the caller has used a few milliseconds, SPIM starts from zero).
  rlimit saved{};
  bool limited = ::getrlimit(RLIMIT_CPU, &saved) == 0;
  if (limited) {
    rlimit lim = saved;
    lim.rlim_cur = static_cast<rlim_t>(cpu_limit);
    if (saved.rlim_max != RLIM_INFINITY && lim.rlim_cur > saved.rlim_max) lim.rlim_cur = saved.rlim_max;
    limited = ::setrlimit(RLIMIT_CPU, &lim) == 0;
  }
  // SPIM copies its environment onto the program's stack: without one the
  // stack starts at the same place everywhere, and a deep recursion
  // overflows at the same depth whoever runs it.
  std::vector<std::string> env_words = env;
  std::vector<char*> envp;
  for (std::string& w : env_words) envp.push_back(w.data());
  envp.push_back(nullptr);
  int e = ::posix_spawn(&pid, exe.c_str(), &fa, &attr, argv.data(), envp.data());
  if (limited) ::setrlimit(RLIMIT_CPU, &saved);
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  for (int fd : high)
    if (fd >= 0) ::close(fd);
  return e;
}

}  // namespace qv::spim
