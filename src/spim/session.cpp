#include "spim/session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "emit/out.h"
#include "spim/trap.h"

namespace qv::spim {

namespace {

constexpr std::string_view kPrompt = "(spim) ";
constexpr std::size_t kKeep = std::size_t{1} << 20;

// A descriptor that becomes readable when process `pid` ends, -1: none
// (a kernel before 5.3).  SPIM's copies hold its pipes too, so its end is
// not seen as their end of file.
int pidfd_of(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

bool send(int pidfd, pid_t pid, int sig) {
  if (pidfd >= 0) return ::syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0) == 0;
  return ::kill(pid, sig) == 0;
}

}  // namespace

SpimSession::~SpimSession() { stop(); }

bool SpimSession::start(const SessionJob& job, std::string& error) {
  job_ = job;
  errno = 0;
  auto fail = [&](const char* what) {
    error = std::string(what) + ": " + std::strerror(errno ? errno : EIO);
    return false;
  };
  if (!trap_.make("quorvelin-trap.s", job.trap, 5) || !prog_.make("quorvelin-program.s", job.program, kSessionProgramFd))
    return fail("cannot hand SPIM its files");
  return launch(error);
}

bool SpimSession::restart(std::string& error) {
  stop();
  for (Pipe* p : {&out_, &err_, &ctl_pipe_, &go_}) {
    p->close_r();
    p->close_w();
  }
  ctl_.clear();
  limit_stops_ = 0;
  err_open_ = ctl_open_ = true;
  dead_ = false;
  return launch(error);
}

bool SpimSession::launch(std::string& error) {
  const SessionJob& job = job_;
  errno = 0;
  auto fail = [&](const char* what) {
    error = std::string(what) + ": " + std::strerror(errno ? errno : EIO);
    return false;
  };
  if (!out_.open() || !err_.open() || !ctl_pipe_.open() || !go_.open()) return fail("cannot make pipes");
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return fail("cannot open a pseudo-terminal");
  char name[128];
  if (::ptsname_r(master_, name, sizeof name) != 0) return fail("cannot open a pseudo-terminal");
  int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) return fail("cannot open a pseudo-terminal");
  // SPIM leaves the terminal as it finds it: no echo of what is sent, and
  // no carriage return added to what it prints.
  termios t{};
  if (::tcgetattr(slave, &t) == 0) {
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    t.c_oflag &= ~static_cast<tcflag_t>(ONLCR);
    ::tcsetattr(slave, TCSANOW, &t);
  }
  std::vector<std::string> words = {job.spim, "-quiet", "-exception_file", trap_.path()};
  if (job.stack) {
    words.push_back("-lstack");
    words.push_back(std::to_string(job.stack));
  }
  // The runner's file name and the program's arguments, for the stack; the
  // name's file is closed, so SPIM says it cannot open it and waits for
  // commands.
  words.push_back("-file");
  words.push_back(kProgramArg);
  for (const std::string& a : job.args) words.push_back(a);
  std::vector<std::string> env;
  counter_ = std::make_unique<InstructionCounter>();
  int lib = hand_over(job.preload, *counter_, env);
  if (!counter_->is_open()) counter_.reset();
  const int from[10] = {slave, out_.w, err_.w, ctl_pipe_.w, go_.r, trap_.slot() >= 0 ? trap_.fd() : -1,
                        prog_.slot() >= 0 ? prog_.fd() : -1, kClosed, lib, counter_ ? counter_->fd() : -1};
  const int to[10] = {0, 1, 2, kCtlFd, kGoFd, 5, kSessionProgramFd, kProgramFd, kPreloadFd, kCounterFd};
  int e = spawn(job.spim, words, from, to, 10, job.cpu_limit, pid_, env, job.own_group);
  if (lib >= 0) ::close(lib);
  ::close(slave);
  out_.close_w();
  err_.close_w();
  ctl_pipe_.close_w();
  go_.close_r();
  if (e != 0) {
    pid_ = -1;
    errno = e;
    return fail("cannot run SPIM");
  }
  pidfd_ = pidfd_of(pid_);
  child_ = true;
  generation_++;
  for (int fd : {out_.r, err_.r, ctl_pipe_.r}) ::fcntl(fd, F_SETFL, O_NONBLOCK);
  Answer a;
  if (!wait_prompt(a, false, job_.wall_limit_ms)) {
    error = "SPIM did not start" + (a.err.empty() ? std::string() : ": " + a.err);
    return false;
  }
  return true;
}

bool SpimSession::go() { return write_all(go_.w, "g", 1); }

bool SpimSession::load(Answer& a) { return command("load \"" + prog_.path() + "\"", a); }

bool SpimSession::command(std::string_view cmd, Answer& a) { return command(cmd, {}, a); }

bool SpimSession::command(std::string_view cmd, std::string_view input, Answer& a) {
  return command(cmd, input, a, false);
}

bool SpimSession::command(std::string_view cmd, std::string_view input, Answer& a, bool stream) {
  return command(cmd, input, a, stream, {}, a);
}

bool SpimSession::command(std::string_view cmd, std::string_view input, Answer& a, bool stream,
                          std::string_view then, Answer& b) {
  a.out.clear();
  a.out_bytes = 0;
  a.err.clear();
  if (pid_ < 0) return false;
  std::string line(cmd);
  line.push_back('\n');
  line.append(input);
  if (!then.empty()) {
    b.out.clear();
    b.out_bytes = 0;
    b.err.clear();
    line.append(then);
    line.push_back('\n');
  }
  if (!write_all(master_, line)) return false;
  if (stream) {
    // Published first, then the request looked at: an interrupt() at any
    // moment is either seen here or sees SPIM running.
    running_pid_ = pid_;
    if (pending_.exchange(0)) {
      sent_++;
      ::kill(pid_, SIGINT);
    }
  }
  split_ = !then.empty();
  bool ok = wait_prompt(a, stream, job_.wall_limit_ms);
  split_ = false;
  running_pid_ = -1;
  // The instruction limit interrupts SPIM from within: its message is
  // matched like that of an interrupt sent from here.
  if (counter_) {
    uint32_t stops = counter_->stops();
    sent_ += stops - limit_stops_;
    limit_stops_ = stops;
  }
  if (ok && !then.empty()) ok = wait_prompt(b, false, job_.wall_limit_ms);
  ahead_.clear();
  if (ok) take_stray_interrupts(a, then.empty() ? nullptr : &b);
  return ok;
}

void SpimSession::interrupt() {
  pending_ = 1;
  pid_t pid = running_pid_;
  if (pid > 0 && pending_.exchange(0)) {
    sent_++;
    ::kill(pid, SIGINT);
  }
}

void SpimSession::take_stray_interrupts(const Answer& a, const Answer* b) {
  constexpr std::string_view kMessage = "Execution interrupted";
  for (std::size_t at = a.out.find(kMessage); at != std::string::npos; at = a.out.find(kMessage, at + 1)) seen_++;
  if (b)
    for (std::size_t at = b->out.find(kMessage); at != std::string::npos; at = b->out.find(kMessage, at + 1)) seen_++;
  // An interrupt that reached SPIM just after the program stopped is
  // answered on its own, at the prompt: read it now, so that it is not
  // taken for the answer to the next command.
  while (seen_ < sent_) {
    Answer stray;
    if (!wait_prompt(stray, false, 1000)) {
      seen_ = sent_;  // none came: the signal was lost with the program's end
      break;
    }
    for (std::size_t at = stray.out.find(kMessage); at != std::string::npos; at = stray.out.find(kMessage, at + 1))
      seen_++;
  }
}

namespace {

// What SPIM itself may write at the end of a run, before its prompt ('#': a
// hex digit of the address).
constexpr std::string_view kStopTexts[] = {"Breakpoint encountered at 0x########\n(spim) ",
                                           "\nExecution interrupted\n(spim) ", "(spim) "};

bool starts_stop_text(std::string_view tail) {
  for (std::string_view t : kStopTexts) {
    if (tail.size() > t.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < tail.size() && same; i++)
      same = t[i] == '#' ? std::isxdigit(static_cast<unsigned char>(tail[i])) != 0 : t[i] == tail[i];
    if (same) return true;
  }
  return false;
}

// How many bytes at the end of `out` may be the start of SPIM's own words:
// those are held back, the rest is the program's.
std::size_t held_back(std::string_view out) {
  std::size_t from = out.size() > 64 ? out.size() - 64 : 0;
  for (std::size_t i = from; i < out.size(); i++)
    if (starts_stop_text(out.substr(i))) return out.size() - i;
  return 0;
}

}  // namespace

bool SpimSession::wait_prompt(Answer& a, bool stream, int timeout_ms) {
  // A line end held back (it may begin "Execution interrupted") is the
  // program's once SPIM has been quiet this long: SPIM writes its message
  // at once.
  constexpr int kQuietMs = 30;
  char buf[1 << 16];
  // Output that ends with the prompt: the prompt is taken off, and what SPIM
  // wrote before it on its other channels read.
  auto at_prompt = [&] {
    if (a.out.size() < kPrompt.size() || a.out.compare(a.out.size() - kPrompt.size(), kPrompt.size(), kPrompt) != 0)
      return false;
    a.out.resize(a.out.size() - kPrompt.size());
    a.out_bytes -= kPrompt.size();
    drain(err_.r, a.err);
    drain(ctl_pipe_.r, ctl_);
    return true;
  };
  if (!ahead_.empty()) {
    a.out.swap(ahead_);
    ahead_.clear();
    a.out_bytes = a.out.size();
    if (at_prompt()) return true;
  }
  for (;;) {
    pollfd p[4] = {{out_.r, POLLIN, 0},
                   {err_open_ ? err_.r : -1, POLLIN, 0},
                   {ctl_open_ ? ctl_pipe_.r : -1, POLLIN, 0},
                   {pidfd_, POLLIN, 0}};
    bool lone_newline = stream && sink_ && a.out == "\n";
    int wait = lone_newline && (timeout_ms < 0 || timeout_ms > kQuietMs) ? kQuietMs : timeout_ms;
    int n = ::poll(p, 4, wait);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 && wait != timeout_ms) {
      sink_(a.out);
      a.out.clear();
      continue;
    }
    if (n <= 0) return false;
    if (p[2].revents) ctl_open_ = drain(ctl_pipe_.r, ctl_);
    if (p[1].revents) err_open_ = drain(err_.r, a.err);
    if (p[3].revents && !p[0].revents) {
      dead_ = true;  // SPIM ended, and all it wrote has been read
      return false;
    }
    if (p[0].revents) {
      ssize_t got = ::read(out_.r, buf, sizeof buf);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (got <= 0) {
        dead_ = true;  // SPIM went away
        return false;
      }
      a.out.append(buf, static_cast<std::size_t>(got));
      a.out_bytes += static_cast<uint64_t>(got);
      if (a.out.size() > 2 * kKeep) a.out.erase(0, a.out.size() - kKeep);
      if (split_) {
        std::size_t end = a.out.find(kPrompt);
        if (end != std::string::npos && end + kPrompt.size() < a.out.size()) {
          ahead_ = a.out.substr(end + kPrompt.size());
          a.out.resize(end + kPrompt.size());
          a.out_bytes -= ahead_.size();
        }
      }
      if (at_prompt()) return true;
      // The program's output goes on as it comes.
      if (stream && sink_) {
        std::size_t keep = held_back(a.out);
        if (a.out.size() > keep) {
          sink_(std::string_view(a.out).substr(0, a.out.size() - keep));
          a.out.erase(0, a.out.size() - keep);
        }
      }
    }
  }
}

void SpimSession::end_live() {
  if (pid_ > 0) {
    send(pidfd_, pid_, SIGKILL);
    if (child_) {
      int st;
      while (::waitpid(pid_, &st, 0) < 0 && errno == EINTR) {
      }
    } else if (pidfd_ >= 0) {
      // A copy's end is reaped by its parent; here it is only awaited, so
      // that no two SPIMs ever read the terminal.
      pollfd p{pidfd_, POLLIN, 0};
      while (::poll(&p, 1, 5000) < 0 && errno == EINTR) {
      }
    }
    pid_ = -1;
  }
  if (pidfd_ >= 0) ::close(pidfd_);
  pidfd_ = -1;
}

void SpimSession::stop() {
  end_live();
  for (std::size_t i = 0; i < parked_.size(); i++) drop(static_cast<int>(i));
  parked_.clear();
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

bool SpimSession::handed_since(uint32_t before, int ms) {
  timespec pause{0, 20000};
  for (int waited = 0; counter_->handed() == before; waited++) {
    if (waited * 20 > ms * 1000) return false;
    ::nanosleep(&pause, nullptr);
  }
  return true;
}

int SpimSession::checkpoint() {
  if (!counter_ || !counter_->loaded() || pid_ <= 0 || dead_ || pidfd_ < 0) return -1;
  uint32_t before = counter_->handed();
  if (!send(pidfd_, pid_, SIGUSR1) || !handed_since(before, 5000)) return -1;
  pid_t copy = counter_->parked_pid();
  if (copy <= 0) return -1;
  Parked k{copy, pidfd_of(copy)};
  if (k.pidfd < 0) {
    ::kill(copy, SIGKILL);
    return -1;
  }
  parked_.push_back(k);
  return static_cast<int>(parked_.size() - 1);
}

bool SpimSession::resume(int number, std::string& error) {
  if (number < 0 || static_cast<std::size_t>(number) >= parked_.size() || parked_[number].pid <= 0 || !counter_) {
    error = "no such checkpoint";
    return false;
  }
  end_live();
  Parked& k = parked_[static_cast<std::size_t>(number)];
  uint32_t before = counter_->handed();
  pid_t live = -1;
  if (send(k.pidfd, k.pid, SIGUSR2) && handed_since(before, 5000)) live = counter_->live_pid();
  int fd = live > 0 ? pidfd_of(live) : -1;
  if (fd < 0) {
    if (live > 0) ::kill(live, SIGKILL);
    drop(number);
    error = "the parked SPIM did not wake";
    dead_ = true;
    return false;
  }
  pid_ = live;
  pidfd_ = fd;
  child_ = false;
  dead_ = false;
  // What the SPIM that ended may have left unread is not this one's.
  std::string junk;
  drain(out_.r, junk);
  drain(err_.r, junk);
  ahead_.clear();
  limit_stops_ = counter_->stops();
  return true;
}

void SpimSession::drop(int number) {
  if (number < 0 || static_cast<std::size_t>(number) >= parked_.size()) return;
  Parked& k = parked_[static_cast<std::size_t>(number)];
  if (k.pid > 0) send(k.pidfd, k.pid, SIGKILL);
  if (k.pidfd >= 0) ::close(k.pidfd);
  k = Parked{};
}

}  // namespace qv::spim
