// quorvelin-test: runs a suite of test programs, each against its expected
// output, exit status and error line, several at once, and reports to a
// person or to a machine.
//
//   quorvelin-test [OPTIONS] [PATH...]
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "check/diag.h"
#include "emit/out.h"
#include "test/compare.h"
#include "test/pool.h"
#include "test/report.h"
#include "test/suite.h"
#include "version.h"

namespace {

using namespace qv::test;

struct Options {
  std::vector<std::string> paths;
  int jobs = 0;  // 0: the processors
  std::string filter;
  uint32_t shard = 1, shards = 1;
  uint32_t repeat = 1;
  bool update = false;
  std::string compiler, ext = ".ic";
  std::string spim = "spim";
  bool tap = false, json = false;
  int tap_version = 14;
  std::string junit, gradescope;
  double timeout = 0;             // 0: each test's own (default 60 s)
  uint64_t max_instructions = 0;  // 0: each test's own (default the runner's)
  bool verbose = false;
  bool help = false, version = false;
};

constexpr const char* kHelp = R"(Usage: quorvelin-test [OPTIONS] [PATH...]

Runs every test under the PATHs (files or folders; default: the current
folder) in SPIM through quorvelin-run's machinery, several at once, and
compares each with what it expects.  A test is NAME.ic (NAME.2.ic ... are
more files of it), or NAME.EXT compiled first with --compiler.  Beside it:
NAME.out (the expected standard output), NAME.in (its input) and NAME.test
(settings: status, line, max-instructions, timeout, points, visibility,
compare); a folder's quorvelin-test.conf sets defaults (man quorvelin-test).

Options:
  -j, --jobs N           run N tests at once (default: the processors)
  --filter REGEX         only the tests whose name matches
  --shard K/N            only the K-th of N slices of the suite (for a CI matrix)
  --repeat N             run each test N times; a test whose outcome changes
                         is reported as FLAKY
  --update               write each test's output and status as its
                         expectation (after showing what changes)
  --compiler 'CMD'       compile each source first: {src} is the source,
                         {out} the intermediate code it must write
  --ext .EXT             the extension of the sources (with --compiler)
  --max-instructions N   the instruction limit of tests that set none
  --timeout SECONDS      the wall-clock limit of tests that set none (60)
  --spim PATH            the SPIM to run (default: spim on the PATH)
  --tap                  TAP version 14 on standard output
  --tap-version 13       the same stream headed as TAP 13, for consumers that
                         know no later version (it uses nothing of 14's)
  --json                 one JSON object a test on standard output
  --junit FILE           a JUnit XML report
  --gradescope FILE      Gradescope's results.json
  -v, --verbose          on a terminal, list the tests that pass too
  --help, --version

Exit status: 0 every test passed, 1 some did not, 2 a usage or set-up error
(no tests, an unreadable path), 130 interrupted.

See quorvelin-test(1), and quorvelin-ic(5) for the intermediate code.
)";

bool parse(int argc, char** argv, Options& o, std::string& error) {
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    std::string v;
    auto value = [&]() {
      std::size_t eq = a.find('=');
      if (a.compare(0, 2, "--") == 0 && eq != std::string::npos) {
        v = a.substr(eq + 1);
        a.erase(eq);
        return true;
      }
      if (i + 1 >= argc) {
        error = "option " + a + " needs a value";
        return false;
      }
      v = argv[++i];
      return true;
    };
    auto count = [&](uint64_t& out, uint64_t max) {
      char* end = nullptr;
      errno = 0;
      unsigned long long n = std::strtoull(v.c_str(), &end, 10);
      if (v.empty() || *end || v[0] == '-' || errno || n == 0 || n > max) {
        error = a + " wants a number from 1 to " + std::to_string(max) + ", not '" + v + "'";
        return false;
      }
      out = n;
      return true;
    };
    std::string name = a.substr(0, a.find('='));
    uint64_t n = 0;
    if (name == "-j" || name == "--jobs") {
      if (!value() || !count(n, 1024)) return false;
      o.jobs = static_cast<int>(n);
    } else if (name == "--filter") {
      if (!value()) return false;
      o.filter = v;
    } else if (name == "--shard") {
      if (!value()) return false;
      unsigned k = 0, of = 0;
      char extra;
      if (std::sscanf(v.c_str(), "%u/%u%c", &k, &of, &extra) != 2 || k < 1 || of < 1 || k > of) {
        error = "--shard wants K/N with 1 <= K <= N, not '" + v + "'";
        return false;
      }
      o.shard = k;
      o.shards = of;
    } else if (name == "--repeat") {
      if (!value() || !count(n, 1000)) return false;
      o.repeat = static_cast<uint32_t>(n);
    } else if (name == "--update") {
      o.update = true;
    } else if (name == "--compiler") {
      if (!value()) return false;
      o.compiler = v;
    } else if (name == "--ext") {
      if (!value()) return false;
      o.ext = v.empty() || v[0] == '.' ? v : "." + v;
    } else if (name == "--max-instructions") {
      if (!value() || !count(o.max_instructions, uint64_t{1} << 60)) return false;
    } else if (name == "--timeout") {
      if (!value() || !count(n, 86400)) return false;
      o.timeout = static_cast<double>(n);
    } else if (name == "--spim") {
      if (!value()) return false;
      o.spim = v;
    } else if (name == "--tap") {
      o.tap = true;
    } else if (name == "--tap-version") {
      if (!value()) return false;
      if (v != "13" && v != "14") {
        error = "--tap-version is 13 or 14, not '" + v + "'";
        return false;
      }
      o.tap = true;
      o.tap_version = v == "13" ? 13 : 14;
    } else if (name == "--json") {
      o.json = true;
    } else if (name == "--junit") {
      if (!value()) return false;
      o.junit = v;
    } else if (name == "--gradescope") {
      if (!value()) return false;
      o.gradescope = v;
    } else if (name == "-v" || name == "--verbose") {
      o.verbose = true;
    } else if (name == "--help" || name == "-h") {
      o.help = true;
    } else if (name == "--version") {
      o.version = true;
    } else if (a.size() > 1 && a[0] == '-') {
      error = "unknown option '" + a + "' (see --help)";
      return false;
    } else {
      o.paths.push_back(a);
    }
  }
  if (!o.compiler.empty() && o.ext == ".ic") {
    error = "--compiler wants --ext, the extension of the sources it compiles";
    return false;
  }
  if (o.tap && o.json) {
    error = "--tap and --json both write to standard output: choose one";
    return false;
  }
  if (o.paths.empty()) o.paths.push_back(".");
  return true;
}

void tool_message(qv::check::Severity s, const std::string& msg) { qv::check::tool_message("quorvelin-test", s, msg); }

const char* status_meaning(int s) {
  switch (s) {
    case 0: return "ran to its end";
    case 1: return "did not build";
    case 2: return "a run-time error";
    case 3: return "stopped by a limit";
    case 4: return "the runner could not work";
    default: return "the program's own status";
  }
}

std::string reproduce(const Test& t, const Options& o) {
  std::vector<std::string> files = t.files;
  std::string s;
  if (!o.compiler.empty()) {
    std::string ic = t.name + ".ic";
    s += "  " + compiler_command(o.compiler, t.files[0], ic) + "\n";
    files = {ic};
  }
  std::string run = "  quorvelin-run";
  if (t.s.max_instructions) run += " --max-instructions " + std::to_string(t.s.max_instructions);
  for (const std::string& f : files) run += " " + shell_quote(f);
  if (!t.in.empty()) run += " < " + shell_quote(t.in);
  std::string debug = "  quorvelin-debug";
  if (!t.in.empty()) debug += " --input " + shell_quote(t.in);
  for (const std::string& f : files) debug += " " + shell_quote(f);
  return s + run + "\n" + debug + "\n";
}

bool read_file(const std::string& path, std::string& text) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  text.clear();
  char buf[1 << 16];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  return n == 0;
}

// Judges one run of a test.
TestResult judge(const Test& t, TestRun& run, const Options& o, bool color) {
  TestResult r;
  r.test = &t;
  r.status = run.o.status;
  r.counted = run.o.counted;
  r.instructions = run.o.instructions;
  r.seconds = run.seconds;
  r.messages = std::move(run.err);
  r.reproduce = reproduce(t, o);
  auto fail = [&](std::string why) {
    r.verdict = Verdict::fail;
    r.reasons.push_back(std::move(why));
  };
  if (!t.problem.empty()) fail(t.problem);
  if (run.timed_out) {
    char b[64];
    std::snprintf(b, sizeof b, "%g", t.s.timeout);
    fail(std::string("stopped at its wall-clock limit of ") + b + " s (timeout)");
  } else if (run.lost) {
    fail("the test's process ended without a result");
  } else if (!run.compiled) {
    fail("the compiler failed");
  } else {
    if (run.o.status != t.s.status)
      fail("exit status " + std::to_string(run.o.status) + " (" + status_meaning(run.o.status) + "), expected " +
           std::to_string(t.s.status) + " (" + status_meaning(t.s.status) + ")");
    else if (t.s.line && run.o.error_line != t.s.line)
      fail(run.o.error_line ? "the error is at line " + std::to_string(run.o.error_line) + ", expected line " +
                                  std::to_string(t.s.line)
                            : "the error names no line, expected line " + std::to_string(t.s.line));
    if (t.out.empty()) {
      if (r.verdict == Verdict::pass) {
        r.verdict = Verdict::no_expectation;
        r.reasons.push_back("no expectation: " + t.name + ".out is missing (--update writes it)");
      }
    } else {
      std::string expected, why;
      if (!read_file(t.out, expected)) {
        fail("cannot read " + t.out + ": " + std::strerror(errno));
      } else if (!same_output(expected, run.out, t.s, why)) {
        fail(why + " (expected: " + t.out + ")");
        r.diff = unified_diff(expected, t.out, run.out, 40, color);
      }
    }
  }
  r.output = std::move(run.out);
  // Messages are kept for what did not pass only (memory stays flat).
  if (r.verdict == Verdict::pass) {
    r.messages.clear();
    r.reproduce.clear();
  }
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  Options o;
  std::string error;
  if (!parse(argc, argv, o, error)) {
    tool_message(qv::check::Severity::error, error);
    return 2;
  }
  if (o.help) return qv::write_all(1, kHelp) ? 0 : 2;
  if (o.version) return qv::write_all(1, std::string("quorvelin-test ") + QV_VERSION + "\n") ? 0 : 2;

  std::vector<Test> tests;
  std::vector<std::string> errors;
  discover(o.paths, o.ext, tests, errors);
  for (const std::string& e : errors) tool_message(qv::check::Severity::error, e);
  if (!o.filter.empty()) {
    std::regex re;
    try {
      re = std::regex(o.filter, std::regex::extended);
    } catch (const std::regex_error&) {
      tool_message(qv::check::Severity::error, "--filter: not a regular expression: " + o.filter);
      return 2;
    }
    std::erase_if(tests, [&](const Test& t) { return !std::regex_search(t.name, re); });
  }
  if (o.shards > 1) {
    std::vector<Test> mine;
    for (std::size_t i = 0; i < tests.size(); i++)
      if (i % o.shards == o.shard - 1) mine.push_back(std::move(tests[i]));
    tests.swap(mine);
  }
  for (Test& t : tests) {
    if (o.timeout > 0 && t.settings_file.empty()) t.s.timeout = o.timeout;
    if (o.max_instructions && !t.s.max_instructions) t.s.max_instructions = o.max_instructions;
  }
  if (tests.empty()) {
    tool_message(qv::check::Severity::error, "no tests found (a test is a " + o.ext + " file; see --help)");
    return 2;
  }

  // A person reads standard output, unless a machine does.
  int human = o.tap || o.json ? 2 : 1;
  bool terminal = ::isatty(human) == 1;
  const char* term = std::getenv("TERM");
  bool color = terminal && !(term && std::strcmp(term, "dumb") == 0) && !std::getenv("NO_COLOR");
  // Every write is checked: a report that could not be written is an error.
  bool write_failed = false;
  auto emit = [&](const std::string& s) {
    if (!qv::write_all(1, s)) write_failed = true;
  };
  auto say = [&](const std::string& s) {
    if (!qv::write_all(human, s)) write_failed = true;
  };

  std::vector<std::size_t> runs;
  for (std::size_t i = 0; i < tests.size(); i++)
    for (uint32_t k = 0; k < o.repeat; k++) runs.push_back(i);
  qv::test::PoolOptions po;
  po.jobs = o.jobs > 0 ? o.jobs : std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
  po.spim = o.spim;
  po.compiler = o.compiler;

  timespec t0{};
  clock_gettime(CLOCK_MONOTONIC, &t0);
  auto elapsed = [&] {
    timespec t1{};
    clock_gettime(CLOCK_MONOTONIC, &t1);
    return static_cast<double>(t1.tv_sec - t0.tv_sec) + static_cast<double>(t1.tv_nsec - t0.tv_nsec) / 1e9;
  };

  // Per test: its first run's result, and what its runs came to (a change
  // between runs makes it flaky).
  std::vector<TestResult> results(tests.size());
  std::vector<uint32_t> runs_done(tests.size(), 0);
  std::vector<std::string> first_outcome(tests.size());
  std::size_t finished = 0, failed = 0, tap_number = 0;
  if (o.tap) emit("TAP version " + std::to_string(o.tap_version) + "\n1.." + std::to_string(tests.size()) + "\n");
  std::string progress;
  auto show_progress = [&] {
    if (!terminal) return;
    char b[160];
    double spent = elapsed();
    double left = finished ? spent / static_cast<double>(finished) * static_cast<double>(tests.size() - finished) : 0;
    std::snprintf(b, sizeof b, "\r\033[K[%zu/%zu] %zu failed, %.0f s left", finished, tests.size(), failed, left);
    say(b);
  };
  auto clear_progress = [&] {
    if (terminal) say("\r\033[K");
  };

  bool complete = run_tests(tests, runs, po, [&](std::size_t run, TestRun& tr) {
    std::size_t i = runs[run];
    std::string outcome = std::to_string(tr.o.status) + "/" + std::to_string(tr.o.error_line) + "/" +
                          (tr.timed_out ? "t" : "") + std::to_string(std::hash<std::string>{}(tr.out));
    if (runs_done[i]++ == 0) {
      results[i] = judge(tests[i], tr, o, color);
      first_outcome[i] = outcome;
    } else if (outcome != first_outcome[i] && results[i].verdict != Verdict::flaky) {
      results[i].verdict = Verdict::flaky;
      results[i].reasons.insert(results[i].reasons.begin(),
                                "the outcome changed between runs (run " + std::to_string(runs_done[i]) + " of " +
                                    std::to_string(o.repeat) + " differed from the first)");
      results[i].reproduce = reproduce(tests[i], o);
    }
    if (runs_done[i] < o.repeat) return;
    TestResult& r = results[i];
    finished++;
    bool ok = r.verdict == Verdict::pass;
    failed += !ok;
    clear_progress();
    std::string head = std::string(verdict_name(r.verdict)) + ": " + r.test->name + " (" + std::to_string(finished) +
                       " of " + std::to_string(tests.size()) + ")\n";
    if (!ok || !terminal || o.verbose) {
      if (color && !ok) head = "\033[1;31m" + head.substr(0, head.find(':')) + "\033[0m" + head.substr(head.find(':'));
      say(head);
    }
    if (!ok) {
      std::string bar(20, '*');
      say(bar + " TEST '" + r.test->name + "' " + verdict_name(r.verdict) + " " + bar + "\n" + failure_text(r, color) +
          bar + "\n");
    }
    if (o.update && r.verdict != Verdict::pass) {
      std::string e;
      uint32_t line = tr.o.error_line;
      if (bless(*r.test, r.output, r.status, line, e))
        say("updated: " + r.test->name + ".out" + (r.status ? " and " + r.test->name + ".test" : "") + "\n");
      else
        tool_message(qv::check::Severity::error, e);
    }
    r.output.clear();
    r.output.shrink_to_fit();
    if (o.tap) emit(tap_point(r, ++tap_number));
    if (o.json) emit(json_line(r));
    show_progress();
  });
  clear_progress();
  double seconds = elapsed();

  std::vector<TestResult> done;
  for (std::size_t i = 0; i < tests.size(); i++)
    if (runs_done[i] == o.repeat) done.push_back(results[i]);
  std::map<Verdict, std::size_t> counts;
  for (const TestResult& r : done) counts[r.verdict]++;
  char b[64];
  std::snprintf(b, sizeof b, "%.2f s", seconds);
  std::string summary = std::string(complete ? "" : "Interrupted: ") + "Testing time: " + b + "\n";
  for (Verdict v : {Verdict::pass, Verdict::fail, Verdict::no_expectation, Verdict::flaky})
    if (counts[v]) {
      std::snprintf(b, sizeof b, "  %-16s %zu\n", (std::string(v == Verdict::pass ? "Passed" : v == Verdict::fail ? "Failed"
                                                             : v == Verdict::flaky ? "Flaky" : "No expectation") + ":").c_str(),
                    counts[v]);
      summary += b;
    }
  if (!complete) summary += "  Not run:         " + std::to_string(tests.size() - done.size()) + "\n";
  say(summary);
  if (o.tap && !complete) emit("Bail out! interrupted\n");

  int status = failed || !complete ? 1 : 0;
  auto write_report = [&](const std::string& path, const std::string& text) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bool ok = fd >= 0 && qv::write_all(fd, text);
    if (fd >= 0 && ::close(fd) != 0) ok = false;
    if (!ok) {
      tool_message(qv::check::Severity::error, "cannot write " + path + ": " + std::strerror(errno));
      status = 2;
    }
  };
  if (!o.junit.empty()) write_report(o.junit, junit(done, seconds));
  if (!o.gradescope.empty()) write_report(o.gradescope, gradescope(done, seconds));
  if (write_failed) status = 2;
  if (!errors.empty()) status = 2;
  if (!complete) return 130;
  return status;
}
