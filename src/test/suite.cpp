#include "test/suite.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace qv::test {

namespace {

constexpr const char* kSuiteFile = "quorvelin-test.conf";

bool is_dir(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_file(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string join(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir == ".") return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

// NAME.2.ic, NAME.3.ic ...: further files of NAME, not tests of their own.
bool is_part(const std::string& file, const std::string& ext) {
  std::string stem = file.substr(0, file.size() - ext.size());
  std::size_t dot = stem.rfind('.');
  if (dot == std::string::npos || dot + 1 == stem.size()) return false;
  return std::all_of(stem.begin() + static_cast<long>(dot) + 1, stem.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void add_test(const std::string& main_file, const std::string& ext, const Settings& defaults,
              std::vector<Test>& tests) {
  Test t;
  t.name = main_file.substr(0, main_file.size() - ext.size());
  t.files.push_back(main_file);
  for (int k = 2;; k++) {
    std::string part = t.name + "." + std::to_string(k) + ext;
    if (!is_file(part)) break;
    t.files.push_back(part);
  }
  if (is_file(t.name + ".out")) t.out = t.name + ".out";
  if (is_file(t.name + ".in")) t.in = t.name + ".in";
  t.s = defaults;
  if (is_file(t.name + ".test")) {
    t.settings_file = t.name + ".test";
    if (!read_settings(t.settings_file, t.s, t.problem)) t.s = defaults;
  }
  tests.push_back(std::move(t));
}

void walk(const std::string& dir, const std::string& ext, Settings defaults, std::vector<Test>& tests,
          std::vector<std::string>& errors) {
  std::string conf = join(dir, kSuiteFile);
  if (is_file(conf)) {
    std::string error;
    if (!read_settings(conf, defaults, error)) errors.push_back(error);
  }
  DIR* d = ::opendir(dir.c_str());
  if (!d) {
    errors.push_back("cannot read " + dir + ": " + std::strerror(errno));
    return;
  }
  std::vector<std::string> names;
  while (dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == ".." || n[0] == '.') continue;
    names.push_back(n);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string& n : names) {
    std::string p = join(dir, n);
    if (is_dir(p))
      walk(p, ext, defaults, tests, errors);
    else if (ends_with(n, ext) && n.size() > ext.size() && !is_part(n, ext))
      add_test(p, ext, defaults, tests);
  }
}

bool number(const std::string& v, double& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtod(v.c_str(), &end);
  return !v.empty() && *end == '\0' && errno == 0 && out >= 0;
}

}  // namespace

void discover(const std::vector<std::string>& paths, const std::string& ext, std::vector<Test>& tests,
              std::vector<std::string>& errors) {
  for (const std::string& p : paths) {
    if (is_dir(p)) {
      walk(p, ext, Settings{}, tests, errors);
    } else if (is_file(p) && ends_with(p, ext)) {
      // A test named on its own takes its folder's defaults.
      Settings defaults;
      std::size_t slash = p.rfind('/');
      std::string conf = join(slash == std::string::npos ? "." : p.substr(0, slash), kSuiteFile);
      std::string error;
      if (is_file(conf) && !read_settings(conf, defaults, error)) errors.push_back(error);
      add_test(p, ext, defaults, tests);
    } else if (is_file(p)) {
      errors.push_back(p + ": not a test (a test is a " + ext + " file)");
    } else {
      errors.push_back("cannot read " + p + ": " + std::strerror(errno ? errno : ENOENT));
    }
  }
}

bool read_settings(const std::string& path, Settings& s, std::string& error) {
  std::ifstream f(path);
  if (!f) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string line;
  for (int n = 1; std::getline(f, line); n++) {
    std::size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::string key, value;
    if (!(words >> key)) continue;
    std::vector<std::string> values;
    while (words >> value) values.push_back(value);
    auto bad = [&](const std::string& why) {
      error = path + ":" + std::to_string(n) + ": " + why;
      return false;
    };
    double v = 0;
    if (values.empty()) return bad("'" + key + "' wants a value");
    if (key == "compare") {
      s.trailing_blanks = s.blank_lines = false;
      for (const std::string& w : values) {
        if (w == "trailing-blanks")
          s.trailing_blanks = true;
        else if (w == "blank-lines")
          s.blank_lines = true;
        else if (w != "exact")
          return bad("compare takes exact, trailing-blanks and blank-lines, not '" + w + "'");
      }
      continue;
    }
    if (values.size() > 1) return bad("'" + key + "' takes one value");
    const std::string& val = values[0];
    if (key == "status") {
      if (!number(val, v) || v > 255 || v != static_cast<int>(v)) return bad("status wants 0 to 255, not '" + val + "'");
      s.status = static_cast<int>(v);
    } else if (key == "line") {
      if (!number(val, v) || v < 1 || v != static_cast<uint32_t>(v)) return bad("line wants a line number, not '" + val + "'");
      s.line = static_cast<uint32_t>(v);
    } else if (key == "max-instructions") {
      if (!number(val, v) || v < 1 || v > 1e18) return bad("max-instructions wants a count, not '" + val + "'");
      s.max_instructions = static_cast<uint64_t>(v);
    } else if (key == "timeout") {
      if (!number(val, v) || v <= 0) return bad("timeout wants seconds, not '" + val + "'");
      s.timeout = v;
    } else if (key == "points") {
      if (!number(val, v)) return bad("points wants a number, not '" + val + "'");
      s.points = v;
    } else if (key == "visibility") {
      if (val != "visible" && val != "hidden" && val != "after_due_date" && val != "after_published")
        return bad("visibility is visible, hidden, after_due_date or after_published, not '" + val + "'");
      s.visibility = val;
    } else {
      return bad("unknown setting '" + key + "'");
    }
  }
  return true;
}

bool bless(const Test& t, const std::string& output, int status, uint32_t line, std::string& error) {
  std::string out = t.name + ".out";
  {
    std::ofstream f(out, std::ios::binary | std::ios::trunc);
    f << output;
    if (!f.flush()) {
      error = "cannot write " + out + ": " + std::strerror(errno);
      return false;
    }
  }
  // The settings file keeps every other setting; status and line are the
  // run's, left out when they are the defaults.
  std::string path = t.name + ".test";
  std::string kept;
  if (!t.settings_file.empty()) {
    std::ifstream f(path);
    std::string l;
    while (std::getline(f, l)) {
      std::istringstream w(l);
      std::string key;
      if ((w >> key) && (key == "status" || key == "line")) continue;
      kept += l + "\n";
    }
  }
  if (status != 0) kept += "status " + std::to_string(status) + "\n";
  if (line != 0 && (status == 2 || status == 3)) kept += "line " + std::to_string(line) + "\n";
  if (kept.empty() && t.settings_file.empty()) return true;
  std::ofstream f(path, std::ios::trunc);
  f << kept;
  if (!f.flush()) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace qv::test
