#include "spim/replay.h"

#include <cstdlib>
#include <cstring>

namespace qv::spim {

namespace {

// The value of "Reg 31 = 0x0040015c (4194652)" or "PC = 0x004000b0 (...)".
bool hex_after_equals(const std::string& s, uint32_t& v) {
  std::size_t eq = s.find("= 0x");
  if (eq == std::string::npos) return false;
  v = static_cast<uint32_t>(std::strtoul(s.c_str() + eq + 2, nullptr, 16));
  return true;
}

}  // namespace

bool replay_overflow(const SessionJob& job, std::size_t labels, Overflow& ov, std::string& why) {
  SpimSession s;
  if (!s.start(job, why)) return false;
  Answer a;
  if (!s.load(a) || !a.err.empty()) {
    why = "the program did not load again";
    return false;
  }
  if (!s.go() || !s.command("run", a)) {
    why = "SPIM did not come back from the run";
    return false;
  }
  if (a.err.find("Can't expand stack segment") == std::string::npos) {
    why = "the second run did not overflow";
    return false;
  }
  if (!s.command("print $pc", a) || !hex_after_equals(a.out, ov.pc)) {
    why = "SPIM did not tell where it stopped";
    return false;
  }
  // The start-up code said "loaded" (1 byte); the handler's report follows.
  std::size_t before = s.control().size();
  if (!s.command("run 0x80000180", a)) {
    why = "the trap handler did not run";
    return false;
  }
  std::string& c = s.control();
  constexpr std::size_t rec = 24;
  if (c.size() < before + rec + labels * 4) {
    why = "the trap handler's report is short";
    return false;
  }
  uint32_t w[6];
  std::memcpy(w, c.data() + before, rec);
  ov.record = Record{w[0], w[1], w[2], w[3], w[4], w[5]};
  ov.table.resize(labels);
  if (labels) std::memcpy(ov.table.data(), c.data() + before + rec, labels * 4);
  std::size_t at = before + rec + labels * 4;
  ov.chain.resize((c.size() - at) / 8 * 2);
  if (!ov.chain.empty()) std::memcpy(ov.chain.data(), c.data() + at, ov.chain.size() * 4);
  return true;
}

}  // namespace qv::spim
