// Comparing a program's output with its expectation, and showing how they
// differ.
#pragma once

#include <string>

#include "test/suite.h"

namespace qv::test {

// Whether `actual` matches `expected` under the test's comparison; when not,
// `why` says how in a line (line ends, a missing final newline, or plainly
// that the output differs).
bool same_output(const std::string& expected, const std::string& actual, const Settings& s, std::string& why);

// A unified diff of `expected` (named `expected_name`) against `actual`, at
// most `max_lines` lines and a count of the rest; coloured when `color`.
std::string unified_diff(const std::string& expected, const std::string& expected_name, const std::string& actual,
                         std::size_t max_lines, bool color);

}  // namespace qv::test
