#include "test/compare.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "emit/out.h"

namespace qv::test {

namespace {

std::string normalized(const std::string& text, const Settings& s) {
  if (!s.trailing_blanks && !s.blank_lines) return text;
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t nl = text.find('\n', at);
    std::string line = text.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
    at = nl == std::string::npos ? text.size() : nl + 1;
    if (s.trailing_blanks)
      while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) line.pop_back();
    if (s.blank_lines && line.empty()) continue;
    out += line;
    out += '\n';
  }
  return out;
}

std::string without_cr(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); i++)
    if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out += s[i];
  return out;
}

// A file `diff` can open by name, holding `text`.
struct Named {
  int fd = -1;
  explicit Named(const std::string& text) {
    fd = ::memfd_create("actual", 0);
    if (fd >= 0 && !write_all(fd, text)) {
      ::close(fd);
      fd = -1;
    }
  }
  ~Named() {
    if (fd >= 0) ::close(fd);
  }
  std::string path() const { return "/proc/self/fd/" + std::to_string(fd); }
};

}  // namespace

bool same_output(const std::string& expected, const std::string& actual, const Settings& s, std::string& why) {
  if (normalized(expected, s) == normalized(actual, s)) return true;
  if (expected.find("\r\n") != std::string::npos && normalized(without_cr(expected), s) == normalized(actual, s)) {
    why = "only the line ends differ: the expected output has CRLF (\\r\\n) line ends, the program printed \\n";
  } else if (actual.find("\r\n") != std::string::npos && normalized(expected, s) == normalized(without_cr(actual), s)) {
    why = "only the line ends differ: the program printed CRLF (\\r\\n) line ends, the expected output has \\n";
  } else if (expected + "\n" == actual) {
    why = "the expected output lacks the final newline the program printed";
  } else if (actual + "\n" == expected) {
    why = "the program's output lacks the final newline the expected output has";
  } else {
    why = "the output differs";
  }
  return false;
}

std::string unified_diff(const std::string& expected, const std::string& expected_name, const std::string& actual,
                         std::size_t max_lines, bool color) {
  Named e(expected), a(actual);
  if (e.fd < 0 || a.fd < 0) return {};
  int p[2];
  if (::pipe2(p, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, p[1], 1);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  std::vector<std::string> words = {"diff", "-u", "-a", "--label", expected_name, "--label", "actual output",
                                    e.path(), a.path()};
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  int err = ::posix_spawnp(&pid, "diff", &fa, nullptr, argv.data(), ::environ);
  posix_spawn_file_actions_destroy(&fa);
  ::close(p[1]);
  std::string text;
  std::size_t lines = 0, more = 0;
  if (err == 0) {
    // Read to the end (the diff must not block), keeping what is shown.
    std::string pending;
    char buf[1 << 16];
    for (;;) {
      ssize_t n = ::read(p[0], buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      pending.append(buf, static_cast<std::size_t>(n));
      std::size_t nl;
      while ((nl = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, nl);
        pending.erase(0, nl + 1);
        if (lines >= max_lines) {
          more++;
          continue;
        }
        lines++;
        const char* c = nullptr;
        if (color && !line.empty()) {
          if (line.compare(0, 2, "@@") == 0) c = "\033[36m";
          else if (line[0] == '-') c = "\033[31m";
          else if (line[0] == '+') c = "\033[32m";
        }
        text += c ? c + line + "\033[0m\n" : line + "\n";
      }
    }
    int st;
    while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
  }
  ::close(p[0]);
  if (more) text += "... " + std::to_string(more) + " more lines of the diff\n";
  return text;
}

}  // namespace qv::test
