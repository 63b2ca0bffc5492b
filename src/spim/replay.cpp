#include "spim/replay.h"

namespace qv::spim {

namespace {

// At the stop: the pc, then the trap handler started by hand for the rest.
bool report_halt(SpimSession& s, std::size_t labels, Halt& h, std::string& why) {
  Answer a;
  if (!s.command("print $pc", a) || !value_after_equals(a.out, h.pc)) {
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
  if (!read_report(std::string_view(s.control()).substr(before), labels, w, h.table, h.chain, complete) ||
      !complete) {
    why = "the trap handler's report is short";
    return false;
  }
  h.record = Record{w[0], w[1], w[2], w[3], w[4], w[5]};
  return true;
}

bool load_and_go(SpimSession& s, const SessionJob& job, std::string& why) {
  if (!s.start(job, why)) return false;
  Answer a;
  if (!s.load(a) || !a.err.empty()) {
    why = "the program did not load again";
    return false;
  }
  if (!s.go()) {
    why = "SPIM did not start the program";
    return false;
  }
  return true;
}

}  // namespace

bool replay_overflow(const SessionJob& job, std::size_t labels, Halt& h, std::string& why) {
  SpimSession s;
  if (!load_and_go(s, job, why)) return false;
  Answer a;
  if (!s.command("run", a)) {
    why = "SPIM did not come back from the run";
    return false;
  }
  if (a.err.find("Can't expand stack segment") == std::string::npos) {
    why = "the second run did not overflow";
    return false;
  }
  return report_halt(s, labels, h, why);
}

bool replay_limit(const SessionJob& job, std::size_t labels, uint64_t limit, uint64_t out_bytes, Halt& h,
                  std::string& why) {
  SpimSession s;
  if (!load_and_go(s, job, why)) return false;
  InstructionCounter* c = s.counter();
  if (!c) {
    why = "instructions cannot be counted";
    return false;
  }
  c->set_limit(limit, kInterrupt);
  Answer a;
  if (!s.command("run", a)) {
    why = "SPIM did not come back from the run";
    return false;
  }
  // SPIM's own message, and the prompt's line break before it.
  constexpr std::string_view kStopped = "\nExecution interrupted\n";
  if (!c->available() || c->stops() != 1 || c->count() != limit || a.out.size() < kStopped.size() ||
      a.out.compare(a.out.size() - kStopped.size(), kStopped.size(), kStopped) != 0) {
    why = "the second run did not stop at the limit";
    return false;
  }
  // The same run to the same point has printed the same.
  if (a.out_bytes - kStopped.size() != out_bytes) {
    why = "the second run printed otherwise";
    return false;
  }
  c->set_limit(0, kInterrupt);
  return report_halt(s, labels, h, why);
}

}  // namespace qv::spim
