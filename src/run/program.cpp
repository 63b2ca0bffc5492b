#include "run/program.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "check/check.h"
#include "emit/emit.h"
#include "input/tokenizer.h"
#include "dispatch/read_ip_traced.h"
#include "fatal.h"
#include "spim/trap.h"

namespace qv::run {

std::string_view Source::line(uint32_t n) const {
  if (n == 0 || n > starts.size()) return {};
  std::size_t b = starts[n - 1];
  std::size_t e = n < starts.size() ? starts[n] : text.size();
  std::string_view s(text.data() + b, e - b);
  if (!s.empty() && s.back() == '\n') s.remove_suffix(1);
  if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
  return s;
}

bool read_sources(const std::vector<std::string>& names, std::vector<Source>& out, std::string& error) {
  out.clear();
  for (const std::string& name : names) {
    Source s;
    s.name = name;
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      error = "cannot open " + name + ": " + std::strerror(errno);
      return false;
    }
    char buf[1 << 16];
    for (;;) {
      ssize_t r = ::read(fd, buf, sizeof buf);
      if (r > 0) {
        s.text.append(buf, static_cast<std::size_t>(r));
      } else if (r == 0) {
        break;
      } else if (errno != EINTR) {
        error = "cannot read " + name + ": " + std::strerror(errno);
        ::close(fd);
        return false;
      }
    }
    ::close(fd);
    s.starts.push_back(0);
    for (std::size_t i = 0; i < s.text.size(); i++)
      if (s.text[i] == '\n' && i + 1 < s.text.size()) s.starts.push_back(i + 1);
    out.push_back(std::move(s));
  }
  return true;
}

namespace {

void check_into(const std::vector<std::string>& names, const std::vector<Source>& srcs, uint64_t stack,
                check::Diags& diags) {
  check::Settings settings;
  settings.reserved = spim::trap_labels();
  settings.reserved_prefixes = {std::string(kLabelPrefix)};
  settings.stack_set = stack != 0;
  std::vector<std::string> texts;
  for (const Source& src : srcs) texts.push_back(src.text);
  check::check_texts(names, texts, settings, diags);
}

}  // namespace

bool check_sources(const std::vector<std::string>& names, const std::vector<Source>& srcs, uint64_t stack,
                   const char* tool) {
  check::Diags diags(&check::rule_names());
  diags.tool = tool;
  check_into(names, srcs, stack, diags);
  diags.print(2);
  return diags.has_errors();
}

bool check_sources(const std::vector<std::string>& names, const std::vector<Source>& srcs, uint64_t stack,
                   const char* tool, std::string& text) {
  check::Diags diags(&check::rule_names());
  diags.tool = tool;
  check_into(names, srcs, stack, diags);
  diags.trim();
  text.clear();
  bool errors = false;
  for (const check::Diag& d : diags.all()) {
    text += diags.format(d, false);
    errors = errors || d.severity == check::Severity::error;
  }
  return errors;
}

int32_t Translation::piece_at(std::size_t offset) const {
  // The last piece that begins at or before the offset: pieces that wrote
  // nothing share their start with the next one, which then wins.
  auto it = std::upper_bound(pieces.begin(), pieces.end(), offset,
                             [](std::size_t o, const Piece& p) { return o < p.at; });
  if (it == pieces.begin()) return -1;
  return static_cast<int32_t>(it - pieces.begin() - 1);
}

int32_t Translation::entry_of(int32_t piece) const {
  if (piece < 0) return -1;
  auto it = std::upper_bound(entries.begin(), entries.end(), static_cast<uint32_t>(piece),
                             [](uint32_t p, const std::pair<uint32_t, std::string>& e) { return p < e.first; });
  if (it == entries.begin()) return -1;
  uint32_t entry = std::prev(it)->first;
  auto end = std::upper_bound(ends.begin(), ends.end(), static_cast<uint32_t>(piece));
  if (end != ends.begin() && *std::prev(end) > entry) return -1;
  return static_cast<int32_t>(entry);
}

std::string_view Translation::procedure_of(int32_t piece) const {
  int32_t entry = entry_of(piece);
  if (entry < 0) return {};
  auto it = std::lower_bound(entries.begin(), entries.end(), static_cast<uint32_t>(entry),
                             [](const std::pair<uint32_t, std::string>& e, uint32_t p) { return e.first < p; });
  return it->second;
}

std::string_view piece_text(const std::vector<Source>& srcs, const Piece& p) {
  std::string_view line = srcs[p.file].line(p.line);
  if (p.col > line.size()) return {};
  return line.substr(p.col - 1, kLinePositions - 1);
}

Fields::Fields() : out_(&out_text_), err_(&err_text_), st_(out_, err_) {}

void Fields::read(std::string_view text) {
  std::size_t n = std::min(text.size(), static_cast<std::size_t>(kLinePositions - 1));
  st_.line.clear();
  if (n) std::memcpy(st_.line.b, text.data(), n);
  st_.line.b[n] = '\0';
  st_.found_lbl = 0;
  tokonize(st_, static_cast<int>(n));
}

std::string_view Fields::label() const {
  if (!st_.found_lbl) return {};
  std::string_view s = st_.lbl.sv();
  s.remove_suffix(1);  // the colon
  std::size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string_view::npos ? std::string_view() : s.substr(b, e - b + 1);
}

std::string_view Fields::operand(int i) const {
  const Field* f[5] = {&st_.p1, &st_.p2, &st_.p3, &st_.p4, &st_.p5};
  return i >= 0 && i < 5 ? f[i]->sv() : std::string_view();
}

void Fields::mapped(int i, Field& into) {
  std::string_view s = operand(i);
  into.point(s.data(), static_cast<uint32_t>(s.size()));
  map(st_, into);
  // (The float register's trace line it writes is not kept.)
  out_.flush();
  err_.flush();
  out_text_.clear();
  err_text_.clear();
}

namespace {

// N of a register named `prefix` and one or two digits N below 32, -1
// for anything else.
int register_number(std::string_view s, std::string_view prefix) {
  if (s.substr(0, prefix.size()) != prefix) return -1;
  s.remove_prefix(prefix.size());
  if (s.empty() || s.size() > 2 || s.find_first_not_of("0123456789") != std::string_view::npos) return -1;
  int k = std::atoi(std::string(s).c_str());
  return k < 32 ? k : -1;
}

}  // namespace

int Fields::general(int i) {
  Field f;
  mapped(i, f);
  return f.sv() == "$v0" ? 2 : register_number(f.sv(), "$");
}

int Fields::floating(int i) {
  Field f;
  mapped(i, f);
  return register_number(f.sv(), "$f");
}

long Fields::number(int i) const {
  std::string_view s = operand(i);
  if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string_view::npos) return -1;
  return std::atol(std::string(s).c_str());
}

namespace {

class Recorder : public PieceObserver {
 public:
  Recorder(Translation& t, uint32_t file) : t_(t), file_(file) {}
  void piece(const State& st, const char* text, int n, std::size_t at) override {
    uint32_t idx = static_cast<uint32_t>(t_.pieces.size());
    Piece p;
    if (n == 0 && line_ > 1 && col_ == 1) {
      // The end-of-file pass belongs to the last line (and reads no opcode).
      p = {file_, line_ - 1, 1, {}, at};
    } else {
      p = {file_, line_, col_, {}, at};
      if (st.opcode.n && st.opcode.n <= sizeof p.op) std::memcpy(p.op, st.opcode.p, st.opcode.n);
    }
    t_.pieces.push_back(p);
    if (st.opcode == "gbln" || st.opcode == "gchr") t_.input_ops.push_back(idx);
    if (st.opcode == "end") t_.ends.push_back(idx);
    if (st.opcode == "ntr") t_.entries.emplace_back(idx, std::string(st.p1.sv()));
    if (st.opcode == "gint" || st.opcode == "gflt" || st.opcode == "gbln" || st.opcode == "gchr" ||
        st.opcode == "gstr")
      t_.reads = true;
    if (n > 0 && text[n - 1] == '\n') {
      line_++;
      col_ = 1;
    } else {
      col_ += static_cast<uint32_t>(n);
    }
  }

 private:
  Translation& t_;
  uint32_t file_;
  uint32_t line_ = 1;
  uint32_t col_ = 1;
};

}  // namespace

void translate(const std::vector<Source>& srcs, Translation& t) {
  t.plain.clear();
  t.pieces.clear();
  t.input_ops.clear();
  t.ends.clear();
  t.entries.clear();
  t.reads = false;
  std::string trace;  // the "floating reg is" lines: the checker reports float registers
  Out out(&t.plain);
  Out err(&trace);
  State st(out, err);
  for (std::size_t i = 0; i < srcs.size(); i++) {
    LineReader ip(srcs[i].text.data(), srcs[i].text.size());
    Recorder rec(t, static_cast<uint32_t>(i));
    read_ip_traced(st, ip, static_cast<int>(i), t.plain, rec);
  }
  out.flush();
}

void Markers::place(check::Loc& loc, std::vector<std::string>& names) const {
  if (loc.file >= srcs_.size() || loc.line == 0) return;
  const Source& s = srcs_[loc.file];
  check::MarkerTrack marks;
  for (uint32_t l = 1; l < loc.line && l <= s.lines(); l++) marks.see(s.line(l), l, s.name, names);
  marks.place(loc);
}

}  // namespace qv::run
