#include "check/check.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "check/checker.h"
#include "input/lines.h"

namespace qv::check {

const std::vector<std::string_view>& rule_names() {
  static const std::vector<std::string_view> names = {
      "unknown-opcode",  "line-too-long",   "operand-count",  "extra-operand",   "operand-kind",
      "register-range",  "float-register",  "duplicate-label", "undefined-label", "reserved-label",
      "pass-through",    "non-ascii",       "string-literal", "program-end",     "class-table",
      "result-register", "argument-count",  "heap-size"};
  return names;
}

int find_rule(std::string_view name) {
  const auto& n = rule_names();
  for (std::size_t i = 0; i < n.size(); i++)
    if (n[i] == name) return static_cast<int>(i);
  return -1;
}

const std::string_view kFixedLabels[17] = {"main",  "ENDIT", "ENDIT1",  "_var_", "_var_1", "_var_2",
                                             "new_line", "blk", "str2",  "lblow", "lbhi",   "badipbl",
                                             "true",  "false", "heap",
                                             // SPIM's start-up code
                                             "__start", "__eoth"};

const std::string_view kFixedData[9] = {"new_line", "blk", "str2", "lblow", "lbhi", "badipbl", "true", "false", "heap"};

long long internal_label(std::string_view s) {
  if (s.size() < 4 || s.size() > 21 || s.substr(0, 3) != "_ML" || (s[3] == '0' && s.size() > 4)) return -1;
  long long n = 0;
  for (char c : s.substr(3)) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n < 0 ? -1 : n;
}


// The opcodes the checker treats apart from the rest.
Op op_kind(std::string_view m) {
  static constexpr std::pair<std::string_view, Op> names[] = {
      {"ntr", Op::ntr}, {"rtn", Op::rtn}, {"cal", Op::cal}, {"str", Op::str},   {"cls", Op::cls},
      {"mth", Op::mth}, {"end", Op::end}, {"bra", Op::bra}, {"brf", Op::brf},   {"psh", Op::psh},
      {"pshf", Op::pshf}, {"cst", Op::cst}, {"mov", Op::mov}, {"alc", Op::alc}, {"gbln", Op::gbln}, {"valf", Op::valf}};
  for (const auto& [n, k] : names)
    if (n == m) return k;
  return Op::other;
}

uint8_t reg_index_any(const Field& f) {
  RegForm r = reg_form(f.sv());
  long long n = r.kind == RegForm::general ? r.n : -1;
  if (r.kind == RegForm::result) n = 2;
  // Written as MIPS writes it: $10 is r1, $v0 is rr.
  if (f.at(0) == '$') {
    MipsReg m = mips_reg(f.sv());
    if (m.kind == MipsReg::gpr) n = m.n;
  }
  if (n == 2) return FlowIns::kRR;
  if (n >= 9 && n <= 22) return static_cast<uint8_t>(n - 9);
  return FlowIns::kNone;
}

bool label_name(std::string_view t) { return identifier(t) && !spim_word(t); }

bool callee_label(std::string_view t) { return label_name(t) && reg_form(t).kind == RegForm::none; }

// What a line means beyond its operands, by the family its opcode belongs to.
void Checker::semantics(const OpcodeRow& row) {
  Op k = kind_;
  if (first_quote_ >= 0 && last_quote_ > first_quote_ && k != Op::str) had_literal_ = true;
  switch (k) {
    case Op::str:
      str_line();
      return;
    case Op::cls:
    case Op::mth:
      table_line(k);
      return;
    case Op::end:
      end_of_program();
      return;
    default:
      procedure_line(row);
      return;
  }
}

void Checker::finish() {
  end_procedure();
  internal_at_end();
  labels_at_end();
  procedures_at_end();
}

namespace {

// A source read back line by line.
struct LineSource {
  virtual ~LineSource() = default;
  // The next line without its line break; false at the end.
  virtual bool next(std::string& line) = 0;
};

struct FileLines : LineSource {
  explicit FileLines(FILE* f) : f_(f) {}
  ~FileLines() override {
    std::free(buf_);
    if (f_) std::fclose(f_);
  }
  bool next(std::string& line) override {
    ssize_t r = ::getline(&buf_, &cap_, f_);
    if (r < 0) return false;
    line.assign(buf_, static_cast<std::size_t>(r));
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return true;
  }
  FILE* f_;
  char* buf_ = nullptr;
  std::size_t cap_ = 0;
};

struct TextLines : LineSource {
  explicit TextLines(std::string_view t) : t_(t) {}
  bool next(std::string& line) override {
    if (at_ >= t_.size()) return false;
    std::size_t nl = t_.find('\n', at_);
    if (nl == std::string_view::npos) nl = t_.size();
    line.assign(t_.substr(at_, nl - at_));
    at_ = nl + 1;
    return true;
  }
  std::string_view t_;
  std::size_t at_ = 0;
};

// Shows the lines of places kept for later (notes, labels used before their
// definition, calls checked at the end): reads back just those lines.  A
// source that cannot be read again (a pipe) leaves them unshown.
template <class Open>
void fill_texts(Diags& diags, std::size_t files, Open open_source) {
  diags.trim();
  std::vector<std::vector<std::pair<uint32_t, std::string*>>> want(files);
  for (Diag& d : diags.all()) {
    if (d.text.empty() && d.loc.line && d.loc.col && d.loc.file < files) want[d.loc.file].push_back({d.loc.line, &d.text});
    for (Note& n : d.notes)
      if (n.text.empty() && n.loc.line && n.loc.col && n.loc.file < files) want[n.loc.file].push_back({n.loc.line, &n.text});
  }
  std::string text;
  for (std::size_t f = 0; f < files; f++) {
    auto& w = want[f];
    if (w.empty()) continue;
    std::sort(w.begin(), w.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::unique_ptr<LineSource> src = open_source(f);
    if (!src) continue;
    uint32_t line = 0;
    for (std::size_t k = 0; k < w.size() && src->next(text);) {
      line++;
      if (!text.empty() && text.back() == '\r') text.pop_back();
      for (; k < w.size() && w[k].first <= line; k++)
        if (w[k].first == line) *w[k].second = text;
    }
  }
}

std::unique_ptr<LineSource> reopen(const std::string& path) {
  struct stat sb;
  if (::stat(path.c_str(), &sb) != 0 || !S_ISREG(sb.st_mode)) return nullptr;
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return nullptr;
  return std::make_unique<FileLines>(f);
}

}  // namespace

bool check_files(const std::vector<std::string>& files, const Settings& settings, Diags& diags,
                 std::string& io_error) {
  diags.file_names = files;
  Program prog(diags, settings);
  auto checker = std::make_unique<Checker>(prog);
  for (std::size_t i = 0; i < files.size(); i++) {
    int fd = ::open(files[i].c_str(), O_RDONLY);
    if (fd < 0) {
      io_error = "quorvelin-check: cannot open " + files[i] + ": " + std::strerror(errno);
      return false;
    }
    try {
      LineReader ip(fd, files[i], nullptr);
      checker->file(static_cast<uint32_t>(i), ip);
    } catch (const Fatal& e) {
      ::close(fd);
      io_error = std::string(e.what());
      if (io_error.rfind("quorvelin:", 0) == 0) io_error.replace(0, 10, "quorvelin-check:");
      return false;
    }
    ::close(fd);
  }
  checker->finish();
  fill_texts(diags, files.size(), [&](std::size_t f) { return reopen(files[f]); });
  return true;
}

void check_texts(const std::vector<std::string>& names, const std::vector<std::string>& texts,
                 const Settings& settings, Diags& diags) {
  diags.file_names = names;
  Program prog(diags, settings);
  auto checker = std::make_unique<Checker>(prog);
  for (std::size_t i = 0; i < texts.size(); i++) {
    LineReader ip(texts[i].data(), texts[i].size());
    checker->file(static_cast<uint32_t>(i), ip);
  }
  checker->finish();
  fill_texts(diags, texts.size(), [&](std::size_t f) -> std::unique_ptr<LineSource> {
    return std::make_unique<TextLines>(texts[f]);
  });
}

}  // namespace qv::check
