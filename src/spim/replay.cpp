#include "spim/replay.h"

namespace qv::spim {

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
  if (!s.command("print $pc", a) || !value_after_equals(a.out, ov.pc)) {
    why = "SPIM did not tell where it stopped";
    return false;
  }
  // The start-up code said "loaded" (1 byte); the handler's report follows.
  std::size_t before = s.control().size();
  if (!s.command("run 0x80000180", a)) {
    why = "the trap handler did not run";
    return false;
  }
  uint32_t w[6];
  bool complete = false;
  if (!read_report(std::string_view(s.control()).substr(before), labels, w, ov.table, ov.chain, complete) ||
      !complete) {
    why = "the trap handler's report is short";
    return false;
  }
  ov.record = Record{w[0], w[1], w[2], w[3], w[4], w[5]};
  return true;
}

}  // namespace qv::spim
