// Preloaded into SPIM (LD_PRELOAD) by every command that runs it.
//
// SPIM 8.0 keeps coprocessor 0's Count register in step with a real-time
// timer: before every instruction it executes it asks getitimer(ITIMER_REAL)
// whether its 10 ms one-shot timer has run out, and when it has, adds one to
// Count and arms the timer again with setitimer.  It ignores SIGALRM (set
// with signal() just before it first arms the timer) and only ever looks at
// whether the time left is zero.  That system call per instruction is
// nearly all of SPIM's time.  Here the two calls are answered in user space
// from CLOCK_MONOTONIC (the clock the kernel's real-time timer runs on,
// read through the vDSO without entering the kernel), with the values the
// kernel would give, so Count ticks as before and no signal is ever sent,
// as none was ever wanted.
//
// The calls also count instructions exactly: one getitimer per instruction.
// Each time SPIM starts running (start_CP0_timer) it first calls
// signal(SIGALRM, SIG_IGN); SPIM 8.0 then arms the timer with setitimer,
// while later versions ask getitimer first whether it still runs.  A
// getitimer right after that signal() is therefore not an instruction's.
// The count and a limit live in a page shared with the starter
// (../counter.h).
//
// Two more things SPIM needs from its starter:
// - SPIM installs its Ctrl-C handler with signal() and leaves it by longjmp,
//   so with the usual semantics SIGINT stays blocked after the first
//   interrupt.  Installed with SA_NODEFER, every interrupt stops the program.
// - SPIM copies its environment onto the program's stack.  LD_PRELOAD, the
//   only variable the starter gives it, is removed before SPIM starts, so
//   the stack begins where it does without this library; so are the
//   descriptors of the library and the page.
//
// A library inside another program: its state is the few statics below.
#include <dlfcn.h>
#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <sys/select.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include "spim/counter.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using qv::spim::CounterPage;

CounterPage* g_page = nullptr;
bool g_alarm_ignored = false;  // SIGALRM set to SIG_IGN through signal()
bool g_starting = false;       // the next getitimer is start_CP0_timer's

// The emulated ITIMER_REAL (used while SIGALRM is ignored).
bool g_armed = false;
int64_t g_deadline = 0;  // CLOCK_MONOTONIC, nanoseconds
int64_t g_interval = 0;  // nanoseconds, 0: one-shot

// Reading the clock costs more than SPIM's instruction itself, so an armed
// timer's time left is read afresh on every kClockEvery-th call and repeated
// in between, and on the first call after SPIM did anything that can wait
// (its reads and writes below).  Between two such calls SPIM only computes,
// so an expiry is seen at most kClockEvery - 1 instructions late: well under
// a microsecond, where the timer's period is 10 ms, and as if the process had
// been scheduled that much later.  After a wait for input the first
// instruction sees it, as without this library.
constexpr unsigned kClockEvery = 16;
unsigned g_reuse = 0;   // calls that may still repeat g_last
itimerval g_last{};

// The C library's own functions, behind the ones below.
template <typename F>
F next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

int64_t now_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

timeval to_timeval(int64_t ns) {
  timeval tv;
  tv.tv_sec = static_cast<time_t>(ns / 1000000000);
  tv.tv_usec = static_cast<suseconds_t>(ns % 1000000000 / 1000);
  return tv;
}

int64_t to_ns(const timeval& tv) { return int64_t{tv.tv_sec} * 1000000000 + int64_t{tv.tv_usec} * 1000; }

// The time left, as the kernel reports it: an expired one-shot timer is
// disarmed; a periodic one has started its next period.  The kernel shows
// microseconds, truncated; time left below one reads as expired, which is
// what SPIM acts on.
void current(itimerval* v) {
  v->it_interval = to_timeval(g_interval);
  v->it_value = {0, 0};
  if (!g_armed) return;
  int64_t now = now_ns();
  if (now >= g_deadline) {
    if (g_interval == 0) {
      g_armed = false;
      return;
    }
    g_deadline += ((now - g_deadline) / g_interval + 1) * g_interval;
  }
  v->it_value = to_timeval(g_deadline - now);
  if (v->it_value.tv_sec == 0 && v->it_value.tv_usec == 0 && g_interval == 0) g_armed = false;
}

void count_one() {
  CounterPage* p = g_page;
  if (!p) return;
  uint64_t c = __atomic_load_n(&p->count, __ATOMIC_RELAXED);
  uint64_t limit = __atomic_load_n(&p->limit, __ATOMIC_RELAXED);
  if (limit != 0 && c >= limit) {
    __atomic_add_fetch(&p->stops, 1, __ATOMIC_RELAXED);
    if (__atomic_load_n(&p->on_limit, __ATOMIC_RELAXED) == qv::spim::kInterrupt) {
      // SPIM's handler says "Execution interrupted" and returns to its
      // prompt (by longjmp) before this instruction executes.
      raise(SIGINT);
      return;
    }
    _exit(qv::spim::kLimitStatus);
  }
  __atomic_store_n(&p->count, c + 1, __ATOMIC_RELAXED);
}

// Checkpoints (see counter.h).  SPIM stands at its prompt, waiting for a
// command on its terminal (descriptor 0), when its starter sends SIGUSR1:
// the handler forks, and the copy waits in the handler, with every other
// signal blocked (a Ctrl-C meant for the SPIM that runs must not wake it),
// until SIGUSR2 asks for a copy of it to run on: that copy returns from the
// handler into SPIM's read of its next command, as if nothing had happened,
// with the instruction count the parked copy had.  A parked copy ends when
// its starter closes the terminal.  The copies that end are reaped by the
// kernel (SIGCHLD ignored: SPIM has no children of its own).
volatile sig_atomic_t g_wake = 0;

void hand(int32_t CounterPage::*field, pid_t pid) {
  __atomic_store_n(&(g_page->*field), static_cast<int32_t>(pid), __ATOMIC_RELAXED);
  __atomic_add_fetch(&g_page->handed, 1, __ATOMIC_RELEASE);
}

void on_wake(int) { g_wake = 1; }

void on_checkpoint(int) {
  int saved = errno;
  uint64_t count = __atomic_load_n(&g_page->count, __ATOMIC_RELAXED);
  g_wake = 0;
  pid_t copy = fork();
  if (copy != 0) {
    hand(&CounterPage::parked_pid, copy < 0 ? -1 : copy);
    errno = saved;
    return;
  }
  sigset_t wait;
  sigfillset(&wait);
  sigdelset(&wait, SIGUSR2);
  for (;;) {
    pollfd p = {0, 0, 0};  // only its hang-up: the starter closed the terminal
    int n = ppoll(&p, 1, nullptr, &wait);
    if (n > 0) _exit(0);
    if (!g_wake) continue;
    g_wake = 0;
    pid_t live = fork();
    if (live == 0) {
      __atomic_store_n(&g_page->count, count, __ATOMIC_RELAXED);
      hand(&CounterPage::live_pid, getpid());
      g_reuse = 0;
      errno = saved;
      return;
    }
    if (live < 0) hand(&CounterPage::live_pid, -1);
  }
}

void install(int sig, void (*handler)(int), int flags) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigfillset(&sa.sa_mask);
  sa.sa_flags = flags;
  sigaction(sig, &sa, nullptr);
}

// "/proc/self/fd/N" -> N, else -1.
int preload_fd(const char* s) {
  const char* prefix = "/proc/self/fd/";
  if (!s || strncmp(s, prefix, strlen(prefix)) != 0) return -1;
  s += strlen(prefix);
  if (*s < '0' || *s > '9') return -1;
  int n = 0;
  for (; *s >= '0' && *s <= '9' && n < 1000; s++) n = n * 10 + (*s - '0');
  return *s == '\0' ? n : -1;
}

__attribute__((constructor)) void start() {
  struct stat st;
  if (fstat(qv::spim::kCounterFd, &st) == 0 && S_ISREG(st.st_mode) &&
      st.st_size >= static_cast<off_t>(sizeof(CounterPage))) {
    void* m = mmap(nullptr, sizeof(CounterPage), PROT_READ | PROT_WRITE, MAP_SHARED, qv::spim::kCounterFd, 0);
    if (m != MAP_FAILED) {
      auto* p = static_cast<CounterPage*>(m);
      if (memcmp(p->magic, qv::spim::kCounterMagic, sizeof p->magic) == 0) {
        g_page = p;
        __atomic_or_fetch(&p->state, qv::spim::kLoaded, __ATOMIC_RELAXED);
      } else {
        munmap(m, sizeof(CounterPage));
      }
    }
    if (g_page) close(qv::spim::kCounterFd);
  }
  if (g_page) {
    install(SIGUSR1, on_checkpoint, SA_RESTART);
    install(SIGUSR2, on_wake, SA_RESTART);
    install(SIGCHLD, SIG_IGN, 0);
  }
  int lib = preload_fd(getenv("LD_PRELOAD"));
  if (lib > 2) close(lib);
  unsetenv("LD_PRELOAD");
}

}  // namespace

EXPORT sighandler_t signal(int sig, sighandler_t handler) {
  struct sigaction sa {}, old {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART | (sig == SIGINT ? SA_NODEFER : 0);
  if (sigaction(sig, &sa, &old) != 0) return SIG_ERR;
  if (sig == SIGALRM) {
    g_alarm_ignored = handler == SIG_IGN;
    g_starting = true;
    if (g_page && handler == SIG_IGN) __atomic_or_fetch(&g_page->state, qv::spim::kTimerSeen, __ATOMIC_RELAXED);
  }
  return old.sa_handler;
}

EXPORT int getitimer(int which, itimerval* v) {
  if (which == ITIMER_REAL) {
    if (g_starting) {
      g_starting = false;
    } else {
      count_one();
    }
    if (g_alarm_ignored) {
      if (g_reuse > 0 && g_armed) {
        g_reuse--;
        *v = g_last;
        return 0;
      }
      current(v);
      g_last = *v;
      g_reuse = kClockEvery - 1;
      return 0;
    }
  }
  return static_cast<int>(syscall(SYS_getitimer, which, v));
}

EXPORT int setitimer(int which, const itimerval* v, itimerval* old) {
  if (which == ITIMER_REAL) g_starting = false;
  if (which != ITIMER_REAL || !g_alarm_ignored) return static_cast<int>(syscall(SYS_setitimer, which, v, old));
  if (v->it_value.tv_usec < 0 || v->it_value.tv_usec >= 1000000 || v->it_interval.tv_usec < 0 ||
      v->it_interval.tv_usec >= 1000000 || v->it_value.tv_sec < 0 || v->it_interval.tv_sec < 0) {
    errno = EINVAL;
    return -1;
  }
  if (old) current(old);
  g_reuse = 0;
  g_interval = to_ns(v->it_interval);
  g_armed = v->it_value.tv_sec != 0 || v->it_value.tv_usec != 0;
  if (g_armed) g_deadline = now_ns() + to_ns(v->it_value);
  return 0;
}

// SPIM's ways of waiting: console and file input and output, and its poll of
// the terminal.  Each makes the next timer query read the clock.
#define WAITS(ret, name, params, args)                          \
  EXPORT ret name params {                                      \
    static auto real = next<ret(*) params>(#name);              \
    g_reuse = 0;                                                \
    return real args;                                           \
  }

WAITS(ssize_t, read, (int fd, void* b, size_t n), (fd, b, n))
WAITS(ssize_t, write, (int fd, const void* b, size_t n), (fd, b, n))
WAITS(int, getc, (FILE* f), (f))
WAITS(int, putc, (int c, FILE* f), (c, f))
WAITS(size_t, fread, (void* b, size_t size, size_t n, FILE* f), (b, size, n, f))
WAITS(size_t, fwrite, (const void* b, size_t size, size_t n, FILE* f), (b, size, n, f))
WAITS(int, fflush, (FILE* f), (f))
WAITS(int, select, (int n, fd_set* r, fd_set* w, fd_set* e, timeval* t), (n, r, w, e, t))
