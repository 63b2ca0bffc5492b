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
#include "spim/instructions.h"
#include "spim/os.h"
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
  InstructionCounter counter;
  bool counting = false;

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
  words.push_back(kProgramArg);
  for (const std::string& a : job.args) words.push_back(a);

  g_signal_pipe = m.sigp.w;
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, &m.old_int);
  sigaction(SIGTERM, &sa, &m.old_term);

  std::vector<std::string> env;
  int lib = hand_over(job.preload, m.counter, env);
  m.counting = m.counter.is_open();
  if (m.counting) m.counter.set_limit(job.instruction_limit, kEndRun);
  int from[8] = {m.out.w, m.err.w, m.ctl.w, m.go.r, m.trap.slot() >= 0 ? m.trap.fd() : -1, m.prog.r, lib,
                 m.counter.fd()};
  const int to[8] = {1, 2, kCtlFd, kGoFd, 5, kProgramFd, kPreloadFd, kCounterFd};
  int spawn_error = spawn(job.spim, words, from, to, 8, job.cpu_limit, m.pid, env);
  if (lib >= 0) ::close(lib);
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
      if (!m.job.preload.empty()) drop_loader_complaint(r.load_err);
      // The start-up code runs: SPIM has started its timer, so the library
      // shows by now whether it counts.  When it does, the instruction
      // limit decides, and the CPU time is only a safety net.
      if (job.counted_cpu_limit && m.counting && m.counter.available()) {
        rlimit lim{};
        if (::prlimit(pid, RLIMIT_CPU, nullptr, &lim) == 0) {
          lim.rlim_cur = job.counted_cpu_limit;
          if (lim.rlim_max != RLIM_INFINITY && lim.rlim_cur > lim.rlim_max) lim.rlim_cur = lim.rlim_max;
          ::prlimit(pid, RLIMIT_CPU, &lim, nullptr);
        }
      }
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
    if (table_done) {
      std::size_t pairs = (ctlbuf.size() - ctl_used) / 8;
      std::size_t had = r.chain.size();
      r.chain.resize(had + pairs * 2);
      if (pairs) std::memcpy(r.chain.data() + had, ctlbuf.data() + ctl_used, pairs * 8);
      ctlbuf.erase(0, ctl_used + pairs * 8);
      ctl_used = 0;
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
          r.output_errno = errno;
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
  if (!r.loaded && !job.preload.empty()) drop_loader_complaint(r.load_err);
  if (m.counting && m.counter.available()) {
    r.counted = true;
    r.instructions = m.counter.count();
    r.instruction_limit = m.counter.stops() > 0 && r.exited && r.status == kLimitStatus;
  }
  m.restore_signals();
}

}  // namespace qv::spim
