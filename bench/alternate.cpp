// Times two commands on a small input, alternating, and prints the medians.
//
//   qv_bench_alternate RUNS CMD_A [ARGS...] -- CMD_B [ARGS...]
//
// Each run forks, executes the command with its standard output on a pipe,
// reads that pipe to its end (the same consumer for both commands), and waits
// for the command; its wall time is from just before the fork to just after
// the wait.  Standard error goes to /dev/null.  One untimed run of each comes
// first.  A run that exits non-zero, or whose output size differs from that
// of the first run of the other command, fails the whole measurement.
//
// Prints one line: "MEDIAN_A_US MEDIAN_B_US BYTES MIN_A_US MIN_B_US".
// A small C++ program of its own, so the harness costs little against
// commands that take about a millisecond.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

double now_us() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

[[noreturn]] void die(const char* what) {
  std::perror(what);
  std::exit(2);
}

// Runs argv once; returns its wall time in microseconds and its output size.
double run_once(char** argv, long* bytes) {
  int p[2];
  if (pipe(p) != 0) die("qv_bench_alternate: pipe");
  double t0 = now_us();
  pid_t pid = fork();
  if (pid < 0) die("qv_bench_alternate: fork");
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(p[1], 1);
    if (null >= 0) dup2(null, 2);
    close(p[0]);
    close(p[1]);
    execvp(argv[0], argv);
    _exit(127);
  }
  close(p[1]);
  static char buf[1 << 16];
  long total = 0;
  for (;;) {
    ssize_t n = read(p[0], buf, sizeof buf);
    if (n > 0) {
      total += n;
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      die("qv_bench_alternate: read");
    }
  }
  close(p[0]);
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) die("qv_bench_alternate: waitpid");
  double t1 = now_us();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "qv_bench_alternate: %s exited with status %d\n", argv[0], status);
    std::exit(1);
  }
  *bytes = total;
  return t1 - t0;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  int split = 0;
  for (int i = 2; i < argc; i++) {
    if (argv[i][0] == '-' && argv[i][1] == '-' && argv[i][2] == 0) {
      split = i;
      break;
    }
  }
  int runs = argc > 1 ? std::atoi(argv[1]) : 0;
  if (runs < 1 || split < 3 || split + 1 >= argc) {
    std::fprintf(stderr, "usage: qv_bench_alternate RUNS CMD_A [ARGS...] -- CMD_B [ARGS...]\n");
    return 2;
  }
  argv[split] = nullptr;
  char** a = argv + 2;
  char** b = argv + split + 1;
  long bytes_a = 0, bytes_b = 0;
  run_once(a, &bytes_a);
  run_once(b, &bytes_b);
  if (bytes_a != bytes_b) {
    std::fprintf(stderr, "qv_bench_alternate: the commands wrote %ld and %ld bytes\n", bytes_a, bytes_b);
    return 1;
  }
  std::vector<double> ta, tb;
  for (int i = 0; i < runs; i++) {
    long n = 0;
    ta.push_back(run_once(a, &n));
    if (n != bytes_a) {
      std::fprintf(stderr, "qv_bench_alternate: %s wrote %ld bytes, first %ld\n", a[0], n, bytes_a);
      return 1;
    }
    tb.push_back(run_once(b, &n));
    if (n != bytes_b) {
      std::fprintf(stderr, "qv_bench_alternate: %s wrote %ld bytes, first %ld\n", b[0], n, bytes_b);
      return 1;
    }
  }
  std::printf("%.1f %.1f %ld %.1f %.1f\n", median(ta), median(tb), bytes_a,
              *std::min_element(ta.begin(), ta.end()), *std::min_element(tb.begin(), tb.end()));
  return 0;
}
