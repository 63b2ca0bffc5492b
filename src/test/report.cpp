#include "test/report.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace qv::test {

namespace {

using nlohmann::json;

// Program output may hold any bytes: JSON wants valid UTF-8, so bytes that
// are not are shown as \xNN.
std::string printable(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool ok = len > 0 && i + len <= s.size();
    for (std::size_t k = 1; ok && k < len; k++) ok = (static_cast<unsigned char>(s[i + k]) >> 6) == 2;
    if (ok) {
      out.append(s, i, len);
      i += len;
    } else {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02X", c);
      out += b;
      i++;
    }
  }
  return out;
}

// XML 1.0 allows no control characters but tab and line ends: they are shown
// as \xNN too, then the five special characters escaped.
std::string xml(const std::string& s) {
  std::string out;
  for (char ch : printable(s)) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02X", c);
      out += b;
      continue;
    }
    switch (ch) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += ch;
    }
  }
  return out;
}

std::string summary_line(const TestResult& r) {
  if (r.reasons.empty()) return verdict_name(r.verdict);
  return r.reasons.front();
}

// The failure without colour, for the files machines read.
std::string details(const TestResult& r) { return failure_text(r, false); }

}  // namespace

const char* verdict_name(Verdict v) {
  switch (v) {
    case Verdict::pass: return "PASS";
    case Verdict::fail: return "FAIL";
    case Verdict::no_expectation: return "NO EXPECTATION";
    case Verdict::flaky: return "FLAKY";
  }
  return "?";
}

std::string json_line(const TestResult& r) {
  json j = {{"name", printable(r.test->name)},
            {"files", json::array()},
            {"verdict", r.verdict == Verdict::pass ? "pass"
                        : r.verdict == Verdict::fail ? "fail"
                        : r.verdict == Verdict::flaky ? "flaky" : "no-expectation"},
            {"status", r.status},
            {"seconds", r.seconds}};
  for (const std::string& f : r.test->files) j["files"].push_back(printable(f));
  if (r.counted) j["instructions"] = r.instructions;
  if (!r.test->out.empty()) j["expected"] = printable(r.test->out);
  if (!r.test->in.empty()) j["input"] = printable(r.test->in);
  if (!r.reasons.empty()) {
    j["reasons"] = json::array();
    for (const std::string& why : r.reasons) j["reasons"].push_back(printable(why));
  }
  if (!r.diff.empty()) j["diff"] = printable(r.diff);
  if (!r.messages.empty()) j["messages"] = printable(r.messages);
  if (!r.reproduce.empty()) j["reproduce"] = printable(r.reproduce);
  return j.dump() + "\n";
}

std::string tap_point(const TestResult& r, std::size_t number) {
  bool ok = r.verdict == Verdict::pass;
  std::string name = printable(r.test->name);
  // A description may not hold '#' unescaped (it starts a directive).
  std::string desc;
  for (char c : name) desc += c == '#' ? std::string("\\#") : c == '\n' ? std::string(" ") : std::string(1, c);
  std::string s = (ok ? "ok " : "not ok ") + std::to_string(number) + " - " + desc + "\n";
  if (ok) return s;
  // The YAML block: every value a JSON string, which is valid YAML.
  s += "  ---\n";
  s += "  message: " + json(printable(summary_line(r))).dump() + "\n";
  s += "  severity: fail\n";
  s += "  data:\n";
  s += "    verdict: " + json(verdict_name(r.verdict)).dump() + "\n";
  s += "    status: " + std::to_string(r.status) + "\n";
  if (r.counted) s += "    instructions: " + std::to_string(r.instructions) + "\n";
  s += "    details: " + json(printable(details(r))).dump() + "\n";
  s += "  ...\n";
  return s;
}

std::string junit(const std::vector<TestResult>& results, double seconds) {
  // The form of Ant's JUnit task (its XML schema), which Jenkins and GitLab
  // read: one suite, with the properties, standard output and error it
  // requires even when empty.
  std::size_t failures = 0;
  for (const TestResult& r : results) failures += r.verdict != Verdict::pass;
  char t[32], stamp[32], host[256] = "localhost";
  std::snprintf(t, sizeof t, "%.3f", seconds);
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &tm);
  if (::gethostname(host, sizeof host) != 0 || !host[0]) std::snprintf(host, sizeof host, "localhost");
  host[sizeof host - 1] = '\0';
  std::string counts = "tests=\"" + std::to_string(results.size()) + "\" failures=\"" + std::to_string(failures) +
                       "\" errors=\"0\" time=\"" + t + "\"";
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n";
  s += "  <testsuite package=\"quorvelin-test\" id=\"0\" name=\"quorvelin-test\" timestamp=\"" + std::string(stamp) +
       "\" hostname=\"" + xml(host) + "\" " + counts + ">\n    <properties/>\n";
  for (const TestResult& r : results) {
    std::string name = r.test->name;
    std::size_t slash = name.rfind('/');
    std::string cls = slash == std::string::npos ? "quorvelin-test" : name.substr(0, slash);
    std::snprintf(t, sizeof t, "%.3f", r.seconds);
    s += "    <testcase classname=\"" + xml(cls) + "\" name=\"" + xml(name) + "\" time=\"" + t + "\"";
    if (r.verdict == Verdict::pass) {
      s += "/>\n";
      continue;
    }
    s += ">\n      <failure message=\"" + xml(summary_line(r)) + "\" type=\"" + verdict_name(r.verdict) + "\">" +
         xml(details(r)) + "</failure>\n    </testcase>\n";
  }
  s += "    <system-out/>\n    <system-err/>\n  </testsuite>\n</testsuites>\n";
  return s;
}

std::string gradescope(const std::vector<TestResult>& results, double seconds) {
  json tests = json::array();
  double score = 0, max = 0;
  for (const TestResult& r : results) {
    double points = r.verdict == Verdict::pass ? r.test->s.points : 0;
    score += points;
    max += r.test->s.points;
    tests.push_back({{"name", printable(r.test->name)},
                     {"score", points},
                     {"max_score", r.test->s.points},
                     {"status", r.verdict == Verdict::pass ? "passed" : "failed"},
                     {"output", printable(r.verdict == Verdict::pass ? std::string() : details(r))},
                     {"visibility", r.test->s.visibility}});
  }
  json j = {{"score", score}, {"max_score", max}, {"execution_time", seconds}, {"tests", tests}};
  return j.dump(2) + "\n";
}

std::string failure_text(const TestResult& r, bool color) {
  std::string s;
  for (const std::string& why : r.reasons) s += why + "\n";
  if (!r.diff.empty()) s += r.diff;
  if (!r.messages.empty()) s += "messages:\n" + r.messages + (r.messages.back() == '\n' ? "" : "\n");
  if (r.counted) s += std::to_string(r.instructions) + " instructions executed\n";
  if (!r.reproduce.empty()) s += "to reproduce:\n" + r.reproduce;
  (void)color;
  return s;
}

}  // namespace qv::test
