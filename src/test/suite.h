// A test suite on disk: the test programs under the paths given, and what
// each is expected to do.
//
// A test is NAME.ic (with NAME.2.ic, NAME.3.ic ... as further files of the
// same program), or NAME.EXT compiled first by a compiler of the user's own.
// Beside it, all optional:
//   NAME.out   the expected standard output (without it: "no expectation")
//   NAME.in    its standard input (else none)
//   NAME.test  settings of its own, one "KEY VALUE" a line (# comments):
//     status N            the expected exit status (quorvelin-run's: 0 ran to
//                         its end, 1 did not build, 2 run-time error, 3 limit)
//     line N              for status 2 or 3: the line the error names
//     max-instructions N  its instruction limit
//     timeout SECONDS     wall-clock safety net
//     points X            its weight for a grader (default 1)
//     visibility V        visible, hidden, after_due_date or after_published
//     compare WORDS       exact (the default), trailing-blanks, blank-lines
// A folder's quorvelin-test.conf holds the same settings as defaults for
// the tests in it and below it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv::test {

struct Settings {
  int status = 0;
  uint32_t line = 0;  // 0: not checked
  uint64_t max_instructions = 0;  // 0: the runner's default
  double timeout = 60;
  double points = 1;
  std::string visibility = "visible";
  bool trailing_blanks = false;  // ignore blanks at the ends of lines
  bool blank_lines = false;      // ignore empty lines
};

struct Test {
  std::string name;                // the path without its extension, as found
  std::vector<std::string> files;  // the program's files (or the one source file)
  std::string out, in;             // NAME.out, NAME.in; "": none
  std::string settings_file;       // NAME.test, "": none
  Settings s;
  std::string problem;             // a settings file that could not be read: the test fails with this
};

// Finds the tests under `paths` (files or folders, searched recursively,
// in name order).  `ext` is the extension of a test's main file (".ic", or
// the compiler's source).  Paths that do not exist go to `errors`.
void discover(const std::vector<std::string>& paths, const std::string& ext, std::vector<Test>& tests,
              std::vector<std::string>& errors);

// Reads "KEY VALUE" lines into `s`; false with `error` ("FILE:LINE: ...").
bool read_settings(const std::string& path, Settings& s, std::string& error);

// Writes the expectation of `t` back: NAME.out from `output`, NAME.test with
// the status (and line) when they are not the defaults.  False with `error`.
bool bless(const Test& t, const std::string& output, int status, uint32_t line, std::string& error);

}  // namespace qv::test
