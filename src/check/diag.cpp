#include "check/diag.h"

#include "emit/out.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <tuple>

namespace qv::check {

namespace {

// The colours Clang uses.
constexpr const char* kBold = "\033[1m";
constexpr const char* kReset = "\033[0m";
constexpr const char* kRed = "\033[1;31m";
constexpr const char* kMagenta = "\033[1;35m";
constexpr const char* kCyan = "\033[1;36m";
constexpr const char* kGreen = "\033[1;32m";

constexpr uint32_t kTab = 8;
constexpr std::size_t kShownMax = 240;  // bytes of a source line shown at most

bool printable(unsigned char c) { return c >= 0x20 && c < 0x7f; }

}  // namespace

bool use_color(Color c, int fd) {
  if (c == Color::always) return true;
  if (c == Color::never) return false;
  const char* no = std::getenv("NO_COLOR");
  if (no && *no) return false;
  const char* term = std::getenv("TERM");
  if (term && std::string_view(term) == "dumb") return false;
  return ::isatty(fd) == 1;
}

std::string Diags::escape(std::string_view s) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string o;
  o.reserve(s.size());
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c == '\t') {
      do o += ' ';
      while (o.size() % kTab);
    } else if (printable(c)) {
      o += ch;
    } else {
      o += '<';
      o += hex[c >> 4];
      o += hex[c & 15];
      o += '>';
    }
  }
  return o;
}

uint32_t Diags::shown_col(std::string_view line, uint32_t col) {
  uint32_t shown = 0;
  for (uint32_t i = 0; i + 1 < col && i < line.size(); i++) {
    unsigned char c = static_cast<unsigned char>(line[i]);
    if (c == '\t')
      shown = (shown / kTab + 1) * kTab;
    else
      shown += printable(c) ? 1 : 4;
  }
  if (col > line.size() + 1) shown += col - 1 - static_cast<uint32_t>(line.size());
  return shown + 1;
}

Diag& Diags::add(Severity s, int rule, const Loc& loc, std::string message, std::string text) {
  bool promoted = s == Severity::warning && opt.werror;
  if (promoted) s = Severity::error;
  Diag d;
  d.promoted = promoted;
  d.severity = s;
  d.rule = rule;
  d.loc = loc;
  d.message = std::move(message);
  d.text = std::move(text);
  d.seq = seq_++;
  list_.push_back(std::move(d));
  return list_.back();
}

std::string Diags::where(const Loc& l) const {
  std::string o;
  if (l.file < file_names.size()) o = file_names[l.file];
  if (l.line == 0) return o;
  o += ':' + std::to_string(l.line);
  if (l.col) o += ':' + std::to_string(l.col);
  return o;
}

void Diags::format_one(std::string& o, Severity s, int rule, bool promoted, const Loc& loc,
                       std::string_view message, std::string_view text, bool color) const {
  auto paint = [&](const char* c) {
    if (color) o += c;
  };
  const char* label = s == Severity::error ? "error: " : s == Severity::warning ? "warning: " : "note: ";
  const char* hue = s == Severity::error ? kRed : s == Severity::warning ? kMagenta : kCyan;

  bool marked = loc.src_file >= 0 && static_cast<std::size_t>(loc.src_file) < src_names.size();
  paint(kBold);
  if (marked) {
    o += src_names[loc.src_file] + ':' + std::to_string(loc.src_line) + ":1";
  } else {
    o += where(loc);
  }
  o += ": ";
  paint(kReset);
  paint(hue);
  o += label;
  paint(kReset);
  paint(kBold);
  o += message;
  if (rule >= 0 && rules_ && static_cast<std::size_t>(rule) < rules_->size()) {
    o += " [";
    if (promoted) o += "-Werror,";
    o += "-W";
    o += (*rules_)[rule];
    o += ']';
  }
  paint(kReset);
  o += '\n';

  auto quote = [&](const Loc& at, std::string_view t) {
    // No line known, a whole-file matter, or a line that cannot be read again.
    if (at.line == 0 || at.col == 0 || t.empty()) return;
    // A very long line is shown around the caret only.
    std::string_view part = t;
    std::size_t from = 0;
    if (t.size() > kShownMax) {
      from = at.col - 1 > kShownMax / 2 ? at.col - 1 - kShownMax / 2 : 0;
      if (from > t.size()) from = t.size() > kShownMax ? t.size() - kShownMax : 0;
      part = t.substr(from, kShownMax);
    }
    bool before = from > 0, after = from + part.size() < t.size();
    if (before) o += "...";
    o += escape(part);
    if (after) o += "...";
    o += '\n';
    uint32_t c = shown_col(part, static_cast<uint32_t>(at.col - from)) + (before ? 3 : 0);
    o.append(c - 1, ' ');
    paint(kGreen);
    o += '^';
    paint(kReset);
    o += '\n';
  };

  if (marked) {
    // The source line is the user's own; the intermediate line follows as a note.
    paint(kBold);
    o += where(loc) + ": ";
    paint(kReset);
    paint(kCyan);
    o += "note: ";
    paint(kReset);
    o += "in the intermediate code here\n";
  }
  quote(loc, text);
}

std::string Diags::format(const Diag& d, bool color) const {
  std::string o;
  format_one(o, d.severity, d.rule, d.promoted, d.loc, d.message, d.text, color);
  for (const Note& n : d.notes) format_one(o, Severity::note, -1, false, n.loc, n.message, n.text, color);
  return o;
}

void Diags::trim() {
  std::stable_sort(list_.begin(), list_.end(), [](const Diag& a, const Diag& b) {
    return std::tie(a.loc.file, a.loc.line, a.loc.col, a.seq) < std::tie(b.loc.file, b.loc.line, b.loc.col, b.seq);
  });
  if (!opt.max_errors) return;
  uint32_t errors = 0;
  for (std::size_t i = 0; i < list_.size(); i++) {
    if (list_[i].severity != Severity::error) continue;
    if (errors++ == opt.max_errors) {
      list_.resize(i);
      stopped_ = true;
      return;
    }
  }
}

void tool_message(const std::string& tool, Severity s, const std::string& message, const std::string& note) {
  Diags d;
  d.file_names = {tool};
  d.tool = tool;
  Diag& e = d.add(s, -1, {}, message, "");
  if (!note.empty()) e.notes.push_back({{}, note, ""});
  d.print(2, false);
}

void Diags::print(int fd, bool summary) {
  trim();
  bool color = use_color(opt.color, fd);
  std::string o;
  errors_ = warnings_ = 0;
  bool stopped = stopped_;
  for (const Diag& d : list_) {
    o += format(d, color);
    if (d.severity == Severity::error) errors_++;
    if (d.severity == Severity::warning) warnings_++;
    if (o.size() > (64 << 10)) {
      (void)write_all(fd, o);  // when standard error is gone, there is nowhere to say so
      o.clear();
    }
  }
  if (stopped) {
    if (color) o += kBold;
    o += tool + ": ";
    if (color) o += kRed;
    o += "fatal error: ";
    if (color) o += std::string(kReset) + kBold;
    o += "too many errors emitted, stopping now [--max-errors=" + std::to_string(opt.max_errors) + "]";
    if (color) o += kReset;
    o += '\n';
  }
  if (summary && (errors_ || warnings_)) {
    auto count = [](uint32_t n, const char* what) {
      return std::to_string(n) + ' ' + what + (n == 1 ? "" : "s");
    };
    if (errors_ && warnings_)
      o += count(errors_, "error") + " and " + count(warnings_, "warning");
    else if (errors_)
      o += count(errors_, "error");
    else
      o += count(warnings_, "warning");
    o += " generated.\n";
  }
  (void)write_all(fd, o);
  if (stopped) errors_ = opt.max_errors + 1;  // there were more
}

}  // namespace qv::check
