// What became of each test, for a person (a terminal or a log) and for
// machines (TAP, JUnit XML, JSON lines, Gradescope's results.json).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "test/suite.h"

namespace qv::test {

enum class Verdict : uint8_t { pass, fail, no_expectation, flaky };

struct TestResult {
  const Test* test = nullptr;
  Verdict verdict = Verdict::pass;
  std::vector<std::string> reasons;  // what differed, one line each
  std::string diff;                  // expected output against actual, unified
  std::string messages;              // the runner's (and the compiler's) messages
  std::string reproduce;             // the commands that show the failure
  int status = 0;
  bool counted = false;
  uint64_t instructions = 0;
  double seconds = 0;
  std::string output;                // the program's output, for --update (then dropped)
};

const char* verdict_name(Verdict v);

// One JSON object a line (--json): {"name", "verdict", "status", ...}.
std::string json_line(const TestResult& r);

// TAP version 14: one test point, with a YAML block for a failure.
std::string tap_point(const TestResult& r, std::size_t number);

// A JUnit XML report of all results (GitLab's and Jenkins' reading of it).
std::string junit(const std::vector<TestResult>& results, double seconds);

// Gradescope's results.json: the score, and each test with its points.
std::string gradescope(const std::vector<TestResult>& results, double seconds);

// The failure as a person reads it: reasons, diff, messages, how to reproduce.
std::string failure_text(const TestResult& r, bool color);

}  // namespace qv::test
