// Runs a command and records its peak resident memory and CPU time.
//
//   qv_bench_spawn REPORT cmd [args...]
//
// Linux keeps a process's peak memory across exec, so a command started
// straight from the Python harness would report the harness's own size.  This
// small program has almost none, so what wait4() reports is the command's.
// REPORT receives "maxrss_kb user_s sys_s"; the exit status is the command's.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: qv_bench_spawn REPORT cmd [args...]\n");
    return 2;
  }
  pid_t pid = fork();
  if (pid < 0) {
    std::perror("qv_bench_spawn: fork");
    return 2;
  }
  if (pid == 0) {
    execvp(argv[2], argv + 2);
    std::perror("qv_bench_spawn: exec");
    _exit(127);
  }
  int status = 0;
  rusage ru{};
  if (wait4(pid, &status, 0, &ru) < 0) {
    std::perror("qv_bench_spawn: wait4");
    return 2;
  }
  if (FILE* f = std::fopen(argv[1], "w")) {
    std::fprintf(f, "%ld %.6f %.6f\n", ru.ru_maxrss, ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6,
                 ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6);
    std::fclose(f);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
