#include "test/pool.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "emit/out.h"

namespace qv::test {

namespace {

// The write end of the pipe through which SIGCHLD, SIGINT and SIGTERM wake
// the loop; a signal handler can reach nothing else.
int g_wake = -1;

extern "C" void qv_test_on_signal(int sig) {
  int saved = errno;
  unsigned char b = static_cast<unsigned char>(sig);
  if (g_wake >= 0) (void)!::write(g_wake, &b, 1);
  errno = saved;
}

double now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

int memfile(const char* what) {
  int fd = ::memfd_create(what, MFD_CLOEXEC);
  if (fd < 0) {
    char name[] = "/tmp/quorvelin-test-XXXXXX";
    fd = ::mkostemp(name, O_CLOEXEC);
    if (fd >= 0) ::unlink(name);
  }
  return fd;
}

std::string read_back(int fd, std::size_t limit) {
  std::string s;
  ::lseek(fd, 0, SEEK_SET);
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    std::size_t take = std::min(static_cast<std::size_t>(n), limit - std::min(limit, s.size()));
    s.append(buf, take);
    if (take < static_cast<std::size_t>(n)) break;
  }
  return s;
}

// Runs the user's compiler on `src` into `out` (its messages on standard
// error); true when it succeeded.
bool compile(const std::string& cmd, const std::string& src, const std::string& out) {
  std::string line = compiler_command(cmd, src, out);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, 2, 1);
  std::string sh = "/bin/sh", dash_c = "-c";
  char* argv[] = {sh.data(), dash_c.data(), line.data(), nullptr};
  pid_t pid = -1;
  int e = ::posix_spawn(&pid, "/bin/sh", &fa, nullptr, argv, ::environ);
  posix_spawn_file_actions_destroy(&fa);
  if (e != 0) {
    std::string msg = std::string("quorvelin-test: cannot run the compiler: ") + std::strerror(e) + "\n";
    (void)write_all(2, msg);
    return false;
  }
  int st = 0;
  while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(st) && WEXITSTATUS(st) == 0) {
    struct stat info {};
    if (::stat(out.c_str(), &info) == 0 && info.st_size > 0) return true;
    (void)write_all(2, "quorvelin-test: the compiler succeeded but wrote nothing to " + out + "\n");
    return false;
  }
  std::string msg = WIFEXITED(st) ? "the compiler failed with exit status " + std::to_string(WEXITSTATUS(st))
                                  : "the compiler was killed by signal " + std::to_string(WTERMSIG(st));
  (void)write_all(2, "quorvelin-test: " + msg + "\n");
  return false;
}

// The test's process: standard input the test's, output and messages into
// `out` and `err`, what the run came to into `res`.
[[noreturn]] void child(const Test& t, const PoolOptions& opts, int out, int err, int res) {
  ::setpgid(0, 0);
  for (int sig : {SIGINT, SIGTERM, SIGCHLD, SIGHUP}) ::signal(sig, SIG_DFL);
  ::signal(SIGPIPE, SIG_IGN);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  int in = ::open(t.in.empty() ? "/dev/null" : t.in.c_str(), O_RDONLY);
  if (in < 0) in = ::open("/dev/null", O_RDONLY);
  ::dup2(in, 0);
  ::dup2(out, 1);
  ::dup2(err, 2);
  std::string report;
  run::Options o;
  o.files = t.files;
  o.spim = opts.spim;
  if (t.s.max_instructions) {
    o.max_instructions = t.s.max_instructions;
    o.max_instructions_set = true;
  }
  std::string compiled;
  bool ok = true;
  if (!opts.compiler.empty()) {
    const char* dir = std::getenv("TMPDIR");
    std::string name = std::string(dir && *dir ? dir : "/tmp") + "/quorvelin-test-XXXXXX.ic";
    std::vector<char> buf(name.begin(), name.end());
    buf.push_back('\0');
    int fd = ::mkstemps(buf.data(), 3);
    if (fd >= 0) ::close(fd);
    compiled = buf.data();
    ok = fd >= 0 && compile(opts.compiler, t.files[0], compiled);
    o.files = {compiled};
  }
  run::Outcome r;
  if (ok) run::execute(o, r);
  if (!compiled.empty()) ::unlink(compiled.c_str());
  std::string message = r.error;
  for (char& c : message)
    if (c == '\n') c = ' ';
  report = std::to_string(ok ? 1 : 0) + " " + std::to_string(r.status) + " " + std::to_string(r.counted ? 1 : 0) + " " +
           std::to_string(r.instructions) + " " + std::to_string(r.error_line) + "\n" + r.error_file + "\n" + message + "\n";
  (void)write_all(res, report);
  ::_exit(0);
}

void parse_result(const std::string& s, TestRun& tr) {
  std::size_t a = s.find('\n'), b = a == std::string::npos ? a : s.find('\n', a + 1);
  if (a == std::string::npos || b == std::string::npos) {
    tr.lost = true;
    return;
  }
  int compiled = 0, counted = 0;
  unsigned long long instructions = 0;
  unsigned line = 0;
  if (std::sscanf(s.c_str(), "%d %d %d %llu %u", &compiled, &tr.o.status, &counted, &instructions, &line) != 5) {
    tr.lost = true;
    return;
  }
  tr.compiled = compiled != 0;
  tr.o.counted = counted != 0;
  tr.o.instructions = instructions;
  tr.o.error_line = line;
  tr.o.error_file = s.substr(a + 1, b - a - 1);
  std::size_t c = s.find('\n', b + 1);
  tr.o.error = s.substr(b + 1, c == std::string::npos ? std::string::npos : c - b - 1);
}

struct Running {
  pid_t pid = -1;
  std::size_t run = 0;
  int out = -1, err = -1, res = -1;
  double started = 0, deadline = 0;
  bool timed_out = false;
};

void close_all(Running& r) {
  for (int fd : {r.out, r.err, r.res})
    if (fd >= 0) ::close(fd);
}

}  // namespace

bool run_tests(const std::vector<Test>& tests, const std::vector<std::size_t>& runs, const PoolOptions& opts,
               const std::function<void(std::size_t run, TestRun&)>& done) {
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  g_wake = wake[1];
  struct sigaction sa {}, old_chld {}, old_int {}, old_term {};
  sa.sa_handler = qv_test_on_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGCHLD, &sa, &old_chld);
  sigaction(SIGINT, &sa, &old_int);
  sigaction(SIGTERM, &sa, &old_term);

  std::vector<Running> running;
  std::size_t next = 0;
  bool interrupted = false;
  auto finish = [&](Running& r, int status) {
    TestRun tr;
    tr.seconds = now() - r.started;
    tr.timed_out = r.timed_out;
    tr.out = read_back(r.out, kKeptOutput);
    tr.err = read_back(r.err, 1 << 20);
    parse_result(read_back(r.res, 1 << 16), tr);
    if (!tr.lost && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) tr.lost = true;
    close_all(r);
    done(r.run, tr);
  };
  while (!interrupted) {
    while (static_cast<int>(running.size()) < std::max(opts.jobs, 1) && next < runs.size()) {
      Running r;
      r.run = next++;
      const Test& t = tests[runs[r.run]];
      r.out = memfile("test-output");
      r.err = memfile("test-messages");
      r.res = memfile("test-result");
      r.started = now();
      r.deadline = r.started + t.s.timeout;
      pid_t pid = r.out < 0 || r.err < 0 || r.res < 0 ? -1 : ::fork();
      if (pid == 0) child(t, opts, r.out, r.err, r.res);
      if (pid < 0) {
        TestRun tr;
        tr.lost = true;
        tr.err = std::string("quorvelin-test: cannot start the test: ") + std::strerror(errno) + "\n";
        close_all(r);
        done(r.run, tr);
        continue;
      }
      ::setpgid(pid, pid);
      r.pid = pid;
      running.push_back(r);
    }
    if (running.empty()) break;
    double soonest = running.front().deadline;
    for (const Running& r : running) soonest = std::min(soonest, r.deadline);
    int wait_ms = static_cast<int>(std::max(0.0, soonest - now()) * 1000) + 1;
    pollfd p{wake[0], POLLIN, 0};
    ::poll(&p, 1, wait_ms);
    unsigned char sig[64];
    ssize_t n;
    while ((n = ::read(wake[0], sig, sizeof sig)) > 0)
      for (ssize_t i = 0; i < n; i++)
        if (sig[i] == SIGINT || sig[i] == SIGTERM) interrupted = true;
    int status = 0;
    pid_t pid;
    while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
      for (std::size_t i = 0; i < running.size(); i++) {
        if (running[i].pid != pid) continue;
        // Whatever the test started goes with it.
        ::kill(-pid, SIGKILL);
        Running r = running[i];
        running.erase(running.begin() + static_cast<long>(i));
        finish(r, status);
        break;
      }
    }
    double t = now();
    for (Running& r : running)
      if (!r.timed_out && t >= r.deadline) {
        r.timed_out = true;
        ::kill(-r.pid, SIGKILL);
      }
  }
  for (Running& r : running) {
    ::kill(-r.pid, SIGKILL);
    int st;
    while (::waitpid(r.pid, &st, 0) < 0 && errno == EINTR) {
    }
    close_all(r);
  }
  sigaction(SIGCHLD, &old_chld, nullptr);
  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGTERM, &old_term, nullptr);
  g_wake = -1;
  ::close(wake[0]);
  ::close(wake[1]);
  return !interrupted;
}

std::string shell_quote(const std::string& s) {
  if (!s.empty() && s.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_./-+=:,") ==
                        std::string::npos)
    return s;
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string compiler_command(const std::string& cmd, const std::string& src, const std::string& out) {
  std::string line = cmd;
  for (const auto& [key, value] : {std::pair<std::string, std::string>{"{src}", src}, {"{out}", out}}) {
    std::string quoted = shell_quote(value);
    for (std::size_t at = line.find(key); at != std::string::npos; at = line.find(key, at + quoted.size()))
      line.replace(at, key.size(), quoted);
  }
  return line;
}

}  // namespace qv::test
