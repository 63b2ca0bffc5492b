#include "spim/fault.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qv::spim {

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::string hex(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%08x", v);
  return b;
}

bool value_after_equals(std::string_view s, uint32_t& v) {
  std::size_t eq = s.rfind("= 0x");
  if (eq == std::string_view::npos) return false;
  v = static_cast<uint32_t>(std::strtoul(std::string(s.substr(eq + 2, 10)).c_str(), nullptr, 16));
  return true;
}

bool read_report(std::string_view c, std::size_t labels, uint32_t (&record)[6], std::vector<uint32_t>& table,
                 std::vector<uint32_t>& chain, bool& complete) {
  constexpr std::size_t kRecord = sizeof record;
  complete = false;
  if (c.size() < kRecord) return false;
  std::memcpy(record, c.data(), kRecord);
  table.assign(labels, 0);
  if (c.size() < kRecord + labels * 4) return true;
  if (labels) std::memcpy(table.data(), c.data() + kRecord, labels * 4);
  std::size_t at = kRecord + labels * 4;
  chain.resize((c.size() - at) / 8 * 2);
  if (!chain.empty()) std::memcpy(chain.data(), c.data() + at, chain.size() * 4);
  complete = true;
  return true;
}

std::string_view mnemonic(std::string_view line) {
  std::string_view rest = line.substr(std::min<std::size_t>(line.size(), code_column(line) - 1));
  std::size_t e = 0;
  while (e < rest.size() && rest[e] != ' ' && rest[e] != '\t' && rest[e] != ',') e++;
  return rest.substr(0, e);
}

int32_t AddressMap::line_of(uint32_t addr) const {
  if (table_.empty() || table_.size() != a_.label_line.size()) return -1;
  auto it = std::upper_bound(table_.begin(), table_.end(), addr);
  if (it == table_.begin()) return -1;
  std::size_t k = static_cast<std::size_t>(it - table_.begin()) - 1;
  // Past the last instruction line: no line of the program.  One line's
  // code is a few words at most.
  if (it == table_.end() && addr - table_[k] >= 32) return -1;
  return static_cast<int32_t>(a_.label_line[k]);
}

std::string_view AddressMap::mnemonic_of(int32_t line) const {
  if (line < 0) return {};
  return mnemonic(a_.plain_line(plain_, static_cast<uint32_t>(line)));
}

Fault decode(const Record& r, const AddressMap& m) {
  Fault f;
  f.epc = r.epc;
  uint32_t code = (r.cause >> 2) & 31;
  // A jump to where there is no code: the call that made it is 4 bytes
  // before the return address (when a call made it).
  if (code == 6 || (code == 4 && r.bad == r.epc)) {
    int32_t call = m.line_of(r.ra - 4);
    std::string_view mn = m.mnemonic_of(call);
    if (call >= 0 && (mn == "jalr" || mn == "jal")) {
      f.kind = Fault::Kind::bad_call;
      f.at = call;
      f.what = "call of address " + hex(r.epc) + ", which holds no procedure";
    } else {
      f.kind = Fault::Kind::bad_jump;
      f.what = "jump to address " + hex(r.epc) + ", which holds no code";
    }
    return f;
  }
  f.at = m.line_of(r.epc);
  f.from = m.line_of(r.ra - 4);
  std::string_view mn = m.mnemonic_of(f.at);
  bool store = !mn.empty() && mn[0] == 's';
  switch (code) {
    case 4:
    case 5:
      f.what = std::string(code == 5 ? "write to" : "read from") + (r.bad & 3 ? " unaligned address " : " bad address ") +
               hex(r.bad);
      break;
    case 7:
      f.what = std::string(store ? "write to" : "read from") + " address " + hex(r.bad) + ", outside the program's memory";
      if (r.bad < 4096) f.what += " (a null pointer?)";
      break;
    case 9:
      f.what = (mn == "div" || mn == "rem" || mn == "divu" || mn == "remu") ? "division by zero"
                                                                          : "breakpoint (a break instruction)";
      break;
    case 10:
      f.what = "reserved instruction";
      break;
    case 12:
      f.what = "arithmetic overflow";
      break;
    case 13:
      f.what = "trap";
      break;
    default:
      f.what = "exception " + std::to_string(code);
  }
  return f;
}

std::vector<Frame> frames_of(uint32_t fp, const std::vector<uint32_t>& chain, const AddressMap& m) {
  std::vector<Frame> v;
  v.reserve(chain.size() / 2);
  for (std::size_t i = 0; i + 1 < chain.size(); i += 2) {
    Frame f;
    f.fp = fp;
    f.ra = chain[i + 1];
    f.caller = chain[i];
    f.call = m.line_of(f.ra - 4);
    v.push_back(f);
    fp = chain[i];
  }
  return v;
}

std::vector<SpimError> spim_errors(std::string_view err) {
  std::vector<SpimError> v;
  std::vector<std::string_view> el;
  while (!err.empty()) {
    std::size_t nl = err.find('\n');
    el.push_back(err.substr(0, nl));
    if (nl == std::string_view::npos) break;
    err.remove_prefix(nl + 1);
  }
  for (std::size_t i = 0; i < el.size(); i++) {
    std::string_view l = trim(el[i]);
    if (l.empty()) continue;
    constexpr std::string_view grow = "Can't expand stack segment by ";
    constexpr std::string_view odd = "Attempt to execute non-instruction at ";
    constexpr std::string_view sys = "Unknown system call: ";
    SpimError e;
    if (l.substr(0, grow.size()) == grow) {
      std::size_t to = l.find(" to ");
      e.kind = SpimError::Kind::stack;
      e.text = to == std::string_view::npos ? "" : std::string(trim(l.substr(to + 4)));
      if (i + 1 < el.size() && el[i + 1].substr(0, 10) == "Use -lstac") i++;
    } else if (l.substr(0, odd.size()) == odd) {
      e.kind = SpimError::Kind::no_instruction;
      e.addr = static_cast<uint32_t>(std::strtoul(std::string(l.substr(odd.size())).c_str(), nullptr, 16));
    } else if (l.substr(0, sys.size()) == sys) {
      e.kind = SpimError::Kind::syscall;
      e.text = std::string(l.substr(sys.size()));
    } else {
      e.text = std::string(l);
    }
    v.push_back(std::move(e));
  }
  return v;
}

}  // namespace qv::spim
