#include "spim/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "emit/out.h"
#include "spim/trap.h"

namespace qv::spim {

namespace {

// The write end of the pipe through which SIGINT and SIGTERM wake the poll
// loop.  A signal handler can reach nothing else, hence the one static.
int g_signal_pipe = -1;

extern "C" void on_signal(int sig) {
  int saved = errno;
  unsigned char b = static_cast<unsigned char>(sig);
  if (g_signal_pipe >= 0) (void)!::write(g_signal_pipe, &b, 1);
  errno = saved;
}

// A file SPIM can open by name: an anonymous memory file when the system has
// them, else a temporary file that is removed afterwards.
class NamedText {
 public:
  NamedText() = default;
  NamedText(const NamedText&) = delete;
  NamedText& operator=(const NamedText&) = delete;
  ~NamedText() {
    if (fd_ >= 0) ::close(fd_);
    if (!temp_.empty()) ::unlink(temp_.c_str());
  }
  // Creates the file with `text`; `slot` is the descriptor it will have in
  // the child.  Returns false with errno set on failure.
  bool make(const char* what, const std::string& text, int slot) {
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
  bool open() {
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0) return false;
    r = p[0];
    w = p[1];
    return true;
  }
  void close_r() {
    if (r >= 0) ::close(r);
    r = -1;
  }
  void close_w() {
    if (w >= 0) ::close(w);
    w = -1;
  }
  ~Pipe() {
    close_r();
    close_w();
  }
};

// Appends what `fd` holds now; returns false at end of file or on error.
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

}  // namespace

std::string find_program(const std::string& name) {
  if (name.empty()) return {};
  auto runnable = [](const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
  };
  if (name.find('/') != std::string::npos) return runnable(name) ? name : std::string();
  const char* path = std::getenv("PATH");
  std::string_view rest = path ? path : "/usr/local/bin:/usr/bin:/bin";
  for (;;) {
    std::size_t c = rest.find(':');
    std::string dir(rest.substr(0, c));
    std::string p = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (runnable(p)) return p;
    if (c == std::string_view::npos) return {};
    rest.remove_prefix(c + 1);
  }
}

struct SpimProcess::Impl {
  NamedText trap;
  Pipe out, err, ctl, go, prog, sigp;
  pid_t pid = -1;
  bool reaped = false;
  struct sigaction old_int {}, old_term {};
  SpimJob job;

  void restore_signals() {
    sigaction(SIGINT, &old_int, nullptr);
    sigaction(SIGTERM, &old_term, nullptr);
    g_signal_pipe = -1;
  }
};

SpimProcess::SpimProcess() : p_(new Impl) {}

SpimProcess::~SpimProcess() {
  abort();
  delete p_;
}

void SpimProcess::abort() {
  if (p_->pid > 0 && !p_->reaped) {
    ::kill(p_->pid, SIGKILL);
    int st;
    while (::waitpid(p_->pid, &st, 0) < 0 && errno == EINTR) {
    }
    p_->reaped = true;
    p_->restore_signals();
  }
}

bool SpimProcess::start(const SpimJob& job, SpimRun& r) {
  Impl& m = *p_;
  m.job = job;
  errno = 0;
  // The program comes through a pipe, written once it is translated: SPIM
  // starts and loads the trap file meanwhile.
  if (!m.trap.make("quorvelin-trap.s", job.trap, 5) || !m.out.open() || !m.err.open() || !m.ctl.open() ||
      !m.go.open() || !m.prog.open() || !m.sigp.open()) {
    r.exec_errno = errno ? errno : EIO;
    return false;
  }
#ifdef F_SETPIPE_SZ
  ::fcntl(m.prog.w, F_SETPIPE_SZ, 1 << 20);
#endif

  std::vector<std::string> words = {job.spim, "-quiet", "-exception_file", m.trap.path()};
  if (job.stack) {
    words.push_back("-lstack");
    words.push_back(std::to_string(job.stack));
  }
  words.push_back("-file");
  words.push_back("/proc/self/fd/6");
  for (const std::string& a : job.args) words.push_back(a);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  g_signal_pipe = m.sigp.w;
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, &m.old_int);
  sigaction(SIGTERM, &sa, &m.old_term);

  // posix_spawn starts SPIM without copying the runner's memory.  Every
  // descriptor SPIM gets is first moved above the ones it is given as, so
  // that no move overwrites another's source.
  int spawn_error = 0;
  {
    int from[6] = {m.out.w, m.err.w, m.ctl.w, m.go.r, m.trap.slot() >= 0 ? m.trap.fd() : -1, m.prog.r};
    const int to[6] = {1, 2, kCtlFd, kGoFd, 5, 6};
    int high[6];
    for (int i = 0; i < 6; i++) high[i] = from[i] < 0 ? -1 : ::fcntl(from[i], F_DUPFD_CLOEXEC, 20);
    posix_spawn_file_actions_t fa;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&fa);
    posix_spawnattr_init(&attr);
    for (int i = 0; i < 6; i++)
      if (high[i] >= 0) posix_spawn_file_actions_adddup2(&fa, high[i], to[i]);
    sigset_t def;
    sigemptyset(&def);
    sigaddset(&def, SIGINT);
    sigaddset(&def, SIGTERM);
    sigaddset(&def, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &def);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    // The CPU limit is inherited: set it on the runner for the moment of the
    // spawn (the runner has used a few milliseconds, SPIM starts from zero).
    rlimit saved{};
    bool limited = ::getrlimit(RLIMIT_CPU, &saved) == 0;
    if (limited) {
      rlimit lim = saved;
      lim.rlim_cur = static_cast<rlim_t>(job.cpu_limit);
      if (saved.rlim_max != RLIM_INFINITY && lim.rlim_cur > saved.rlim_max) lim.rlim_cur = saved.rlim_max;
      limited = ::setrlimit(RLIMIT_CPU, &lim) == 0;
    }
    spawn_error = ::posix_spawn(&m.pid, job.spim.c_str(), &fa, &attr, argv.data(), environ);
    if (limited) ::setrlimit(RLIMIT_CPU, &saved);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    for (int fd : high)
      if (fd >= 0) ::close(fd);
  }
  if (spawn_error != 0) {
    r.exec_errno = spawn_error;
    m.pid = -1;
    m.restore_signals();
    return false;
  }
  m.out.close_w();
  m.err.close_w();
  m.ctl.close_w();
  m.go.close_r();
  m.prog.close_r();
  r.started = true;
  return true;
}

void SpimProcess::run(const std::string& program, std::size_t labels, const Approve& approve, SpimRun& r) {
  Impl& m = *p_;
  const SpimJob& job = m.job;
  pid_t pid = m.pid;
  for (int fd : {m.out.r, m.err.r, m.ctl.r, m.sigp.r, m.prog.w}) ::fcntl(fd, F_SETFL, O_NONBLOCK);

  bool killed = false;
  auto stop = [&] {
    if (!killed) ::kill(pid, SIGKILL);
    killed = true;
  };
  std::string ctlbuf;
  std::size_t ctl_used = 0;  // bytes of ctlbuf already understood
  const std::size_t table_bytes = labels * 4;
  bool table_done = false;
  std::size_t fed = 0;  // bytes of the program written to SPIM

  auto on_ctl = [&] {
    if (!r.loaded && ctlbuf.size() > ctl_used) {
      ctl_used++;
      r.loaded = true;
      m.prog.close_w();
      // Whatever SPIM printed while loading was written before the byte
      // that says loading is over, so it is in the pipes now.
      drain(m.out.r, r.load_out);
      drain(m.err.r, r.load_err);
      if (approve(r.load_out, r.load_err)) {
        if (!write_all(m.go.w, "g", 1)) stop();
      } else {
        r.rejected = true;
        stop();
      }
      m.go.close_w();
    }
    if (r.loaded && !r.have_record && ctlbuf.size() - ctl_used >= sizeof r.record) {
      std::memcpy(r.record, ctlbuf.data() + ctl_used, sizeof r.record);
      ctl_used += sizeof r.record;
      r.have_record = true;
    }
    if (r.have_record && !table_done && ctlbuf.size() - ctl_used >= table_bytes) {
      r.table.resize(labels);
      if (table_bytes) std::memcpy(r.table.data(), ctlbuf.data() + ctl_used, table_bytes);
      ctl_used += table_bytes;
      table_done = true;
    }
  };

  bool out_open = true, err_open = true, ctl_open = true;
  std::vector<char> chunk(1 << 16);  // allocated once: a print arrives on every wake-up
  while ((out_open || err_open || ctl_open) && !killed) {
    // SPIM reads the program while it loads; a syntax error stops the
    // reading, so the rest is written only as SPIM takes it.
    while (m.prog.w >= 0 && fed < program.size()) {
      ssize_t w = ::write(m.prog.w, program.data() + fed, program.size() - fed);
      if (w > 0) {
        fed += static_cast<std::size_t>(w);
      } else if (w < 0 && errno == EINTR) {
        continue;
      } else {
        if (w < 0 && errno != EAGAIN) m.prog.close_w();
        break;
      }
    }
    if (m.prog.w >= 0 && fed == program.size()) m.prog.close_w();

    pollfd p[5] = {{m.out.r, POLLIN, 0}, {m.err.r, POLLIN, 0}, {m.ctl.r, POLLIN, 0}, {m.sigp.r, POLLIN, 0},
                   {m.prog.w, POLLOUT, 0}};
    if (!out_open) p[0].fd = -1;
    if (!err_open) p[1].fd = -1;
    if (!ctl_open) p[2].fd = -1;
    int n = ::poll(p, 5, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      stop();
      break;
    }
    if (p[3].revents) {
      r.interrupted = true;
      stop();
      break;
    }
    if (p[2].revents) {
      ctl_open = drain(m.ctl.r, ctlbuf);
      on_ctl();
      if (killed) break;
    }
    if (p[0].revents) {
      // One read per wake-up: SPIM writes each print at once, so a second
      // read would nearly always find the pipe empty.
      ssize_t got;
      do got = ::read(m.out.r, chunk.data(), chunk.size());
      while (got < 0 && errno == EINTR);
      std::size_t size = got > 0 ? static_cast<std::size_t>(got) : 0;
      if (got == 0 || (got < 0 && errno != EAGAIN)) out_open = false;
      if (!r.loaded) {
        r.load_out.append(chunk.data(), size);
      } else if (size) {
        std::size_t take = size;
        if (r.out_bytes + take > job.max_output) {
          take = static_cast<std::size_t>(job.max_output - r.out_bytes);
          r.output_limit = true;
        }
        if (!write_all(1, chunk.data(), take)) {
          r.output_closed = true;
          stop();
        }
        r.out_bytes += take;
        if (r.output_limit) stop();
      }
    }
    if (p[1].revents) err_open = drain(m.err.r, r.loaded ? r.run_err : r.load_err);
  }
  m.prog.close_w();
  int st = 0;
  while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
  }
  m.reaped = true;
  if (!killed) {
    // Anything still in the pipes after the exit.  The process is gone, so
    // nothing may be sent a signal any more.
    killed = true;
    drain(m.ctl.r, ctlbuf);
    on_ctl();
    drain(m.err.r, r.loaded ? r.run_err : r.load_err);
  }
  if (WIFEXITED(st)) {
    r.exited = true;
    r.status = WEXITSTATUS(st);
  } else if (WIFSIGNALED(st)) {
    r.sig = WTERMSIG(st);
  }
  m.restore_signals();
}

}  // namespace qv::spim
