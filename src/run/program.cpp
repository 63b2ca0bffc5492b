#include "run/program.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "check/check.h"
#include "dispatch/read_ip_traced.h"
#include "fatal.h"

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

int32_t Translation::piece_at(std::size_t offset) const {
  // The last piece that begins at or before the offset: pieces that wrote
  // nothing share their start with the next one, which then wins.
  auto it = std::upper_bound(pieces.begin(), pieces.end(), offset,
                             [](std::size_t o, const Piece& p) { return o < p.at; });
  if (it == pieces.begin()) return -1;
  return static_cast<int32_t>(it - pieces.begin() - 1);
}

namespace {

class Recorder : public PieceObserver {
 public:
  Recorder(Translation& t, uint32_t file) : t_(t), file_(file) {}
  void piece(const State& st, const char* text, int n, std::size_t at) override {
    uint32_t idx = static_cast<uint32_t>(t_.pieces.size());
    if (n == 0 && line_ > 1 && col_ == 1) {
      // The end-of-file pass belongs to the last line.
      t_.pieces.push_back({file_, line_ - 1, 1, at});
    } else {
      t_.pieces.push_back({file_, line_, col_, at});
    }
    if (st.opcode == "gbln" || st.opcode == "gchr") t_.input_ops.push_back(idx);
    if (st.opcode == "end") t_.ends.push_back(idx);
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

namespace {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == ','; }

// Past an optional "LABEL:" and the blanks behind it.
std::size_t skip_label(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && blank(s[i])) i++;
  std::size_t j = i;
  while (j < s.size() && !blank(s[j]) && s[j] != ':' && s[j] != '#' && s[j] != '"') j++;
  if (j < s.size() && s[j] == ':' && j > i) {
    i = j + 1;
    while (i < s.size() && blank(s[i])) i++;
  }
  return i;
}

// Instructions that cannot raise an exception: their lines need no label,
// since a fault's address always lies in the code of a line that can.
// (SPIM's mul wraps; the float operations do not trap; branches to where
// there is no code fail at the target.)
bool cannot_fault(std::string_view rest) {
  std::size_t e = 0;
  while (e < rest.size() && !blank(rest[e]) && rest[e] != '#') e++;
  std::string_view m = rest.substr(0, e);
  static constexpr std::string_view safe[] = {
      "li",    "la",    "move",  "nop",   "b",     "beq",   "bne",   "beqz",  "bnez",  "blt",   "ble",
      "bgt",   "bge",   "bltz",  "blez",  "bgtz",  "bgez",  "j",     "mfc1",  "mtc1",  "li.s",  "c.lt.s",
      "c.le.s", "c.eq.s", "bc1t", "bc1f", "xori",  "ori",   "andi",  "and",   "or",    "xor",   "nor",
      "slt",   "slti",  "sltu",  "mflo",  "mfhi",  "mul",   "addiu", "addu",  "subu",  "sll",   "srl",
      "sra",   "neg.s", "add.s", "sub.s", "mul.s", "div.s", "mov.s", "not",   "seq",   "sne",   "sge",
      "sgt",   "sle"};
  for (std::string_view k : safe)
    if (m == k) return true;
  return false;
}

bool starts_word(std::string_view s, std::string_view w) {
  return s.substr(0, w.size()) == w && (s.size() == w.size() || blank(s[w.size()]) || s[w.size()] == '#');
}

}  // namespace

uint32_t code_column(std::string_view line) { return static_cast<uint32_t>(skip_label(line)) + 1; }

std::string_view Assembly::plain_line(const Translation& t, uint32_t n) const {
  if (n >= plain_starts.size()) return {};
  std::size_t b = plain_starts[n];
  std::size_t e = n + 1 < plain_starts.size() ? plain_starts[n + 1] : t.plain.size();
  std::string_view s(t.plain.data() + b, e - b);
  if (!s.empty() && s.back() == '\n') s.remove_suffix(1);
  return s;
}

void assemble(const Translation& t, Assembly& a) {
  a.text.clear();
  a.plain_starts.clear();
  a.run_to_plain.clear();
  a.label_line.clear();
  a.text.reserve(t.plain.size() + t.plain.size() / 4);
  bool in_text = false;  // the header switches to .data first
  std::string_view all(t.plain);
  std::size_t pos = 0;
  uint32_t n = 0;
  char label[32];
  while (pos < all.size()) {
    std::size_t nl = all.find('\n', pos);
    std::size_t end = nl == std::string_view::npos ? all.size() : nl + 1;
    std::string_view line = all.substr(pos, end - pos);
    a.plain_starts.push_back(pos);
    std::string_view body = line.substr(0, line.size() - (nl == std::string_view::npos ? 0 : 1));
    std::string_view rest = body.substr(skip_label(body));
    bool code = false;
    if (!rest.empty() && rest[0] == '.') {
      if (starts_word(rest, ".text") || starts_word(rest, ".ktext")) in_text = true;
      if (starts_word(rest, ".data") || starts_word(rest, ".kdata")) in_text = false;
    } else if (!rest.empty() && rest[0] != '#') {
      code = in_text && !cannot_fault(rest);
    }
    if (code) {
      int k = std::snprintf(label, sizeof label, "__qv%zu:\n", a.label_line.size());
      a.text.append(label, static_cast<std::size_t>(k));
      a.run_to_plain.push_back(-1);
      a.label_line.push_back(n);
    }
    a.text.append(line);
    if (nl == std::string_view::npos) a.text.push_back('\n');
    a.run_to_plain.push_back(static_cast<int32_t>(n));
    pos = end;
    n++;
  }
  a.text.append("\t.data\n__qvmap:");
  for (std::size_t k = 0; k < a.label_line.size(); k++) {
    int len = std::snprintf(label, sizeof label, "%s__qv%zu", k % 8 ? ", " : "\n\t.word ", k);
    a.text.append(label, static_cast<std::size_t>(len));
  }
  a.text.append("\n__qvmapend:\n");
}

void Markers::place(check::Loc& loc, std::vector<std::string>& names) const {
  if (loc.file >= srcs_.size() || loc.line == 0) return;
  const Source& s = srcs_[loc.file];
  bool active = false;
  std::string file = s.name;
  uint32_t next = 0;  // the source line of the intermediate line after a marker
  std::string name;
  for (uint32_t l = 1; l < loc.line && l <= s.lines(); l++) {
    uint32_t v = 0;
    bool has = false;
    if (check::line_marker(s.line(l), v, name, has)) {
      active = true;
      next = v;
      if (has) file = name;
    } else if (active) {
      next++;
    }
  }
  if (!active) return;
  auto it = std::find(names.begin(), names.end(), file);
  if (it == names.end()) it = names.insert(names.end(), file);
  loc.src_file = static_cast<int32_t>(it - names.begin());
  loc.src_line = next;
}

}  // namespace qv::run
