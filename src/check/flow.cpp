// The data-flow pass over one procedure, in the manner of a bytecode
// verifier: a forward pass over the procedure's control flow (labels join,
// bra and brf branch, rtn ends a path) to a fixed point, over a small state:
// the words pushed and not yet taken by a call, and the constant (a label or
// a number) each register holds.  Diagnostics come from a last sweep over
// the final states, so they hold on every path.
#include <algorithm>
#include <climits>
#include <unordered_map>

#include "check/program.h"

namespace qv::check {

namespace {

constexpr int64_t kUnknown = INT64_MIN;
constexpr int64_t kLabelBase = int64_t{1} << 40;  // a label constant: kLabelBase + id
constexpr int kTop = INT_MIN;                      // pushed words differ between paths
constexpr int kRegs = 15;

struct FState {
  bool reached = false;
  int depth = 0;
  int64_t reg[kRegs];
  int last_cal = -1;              // the last call on every path, or -1
  int last_callee = -1;           // its callee, when known
  int first_push = -1;            // the oldest push not yet taken (one path's)
  FState() { std::fill(std::begin(reg), std::end(reg), kUnknown); }
};

std::string words(int n) { return std::to_string(n) + (n == 1 ? " word" : " words"); }

class Flow {
 public:
  Flow(Program& prog, const Procedure& proc) : prog_(prog), code_(proc.code) {
    // A state is kept only where a block begins: the entry and each label.
    auto& at = prog_.label_at;
    if (at.size() < prog_.labels.size()) at.resize(prog_.labels.size(), -1);
    slot_.push_back(0);
    for (std::size_t i = 0; i < code_.size(); i++)
      if (code_[i].op == FlowIns::label) {
        if (at[static_cast<std::size_t>(code_[i].x)] < 0) at[static_cast<std::size_t>(code_[i].x)] = static_cast<int32_t>(i);
        if (i) slot_.push_back(i);
      }
  }
  ~Flow() {
    for (const FlowIns& c : code_)
      if (c.op == FlowIns::label) prog_.label_at[static_cast<std::size_t>(c.x)] = -1;
  }

  void run() {
    in_.assign(slot_.size(), FState());
    in_[0].reached = true;
    work_.push_back(0);
    while (!work_.empty()) {
      std::size_t s = work_.back();
      work_.pop_back();
      block(s, false);
    }
    // The last sweep reports; a block without a call, a rtn or an
    // allocation has nothing to report.
    std::vector<bool> worth(slot_.size(), false);
    std::size_t b = 0;
    for (std::size_t i = 0; i < code_.size(); i++) {
      FlowIns::Op op = code_[i].op;
      if (i && op == FlowIns::label) b++;
      if (op == FlowIns::cal || op == FlowIns::rtn || op == FlowIns::alc) worth[b] = true;
    }
    for (b = 0; b < slot_.size(); b++)
      if (worth[b] && in_[b].reached) block(slot_[b], true);
    joins();
  }

 private:
  // Runs from a block start to its end; with `report` set, reports as it goes.
  // The state where the block at instruction i begins.
  FState& state(std::size_t i) {
    return in_[static_cast<std::size_t>(std::lower_bound(slot_.begin(), slot_.end(), i) - slot_.begin())];
  }

  void block(std::size_t i, bool report) {
    FState s = state(i);
    for (std::size_t k = i; k < code_.size(); k++) {
      const FlowIns& c = code_[k];
      if (k != i && c.op == FlowIns::label) {
        flow_to(k, s, k - 1, report);
        return;
      }
      switch (c.op) {
        case FlowIns::label:
          break;
        case FlowIns::psh:
          if (s.depth != kTop) {
            if (s.depth++ == 0) s.first_push = static_cast<int>(k);
          }
          break;
        case FlowIns::cal:
          call(s, k, report);
          s.reg[FlowIns::kRR] = kUnknown;
          break;
        case FlowIns::rtn:
          if (report && s.depth != kTop && s.depth > 0) left_at_rtn(s, k);
          return;
        case FlowIns::bra:
          branch(c, s, k, report);
          return;
        case FlowIns::brf:
          branch(c, s, k, report);
          break;
        case FlowIns::cst:
          if (c.a < kRegs) s.reg[c.a] = c.is_label ? kLabelBase + c.x : c.x;
          break;
        case FlowIns::mov:
          if (c.a < kRegs) s.reg[c.a] = c.b < kRegs ? s.reg[c.b] : kUnknown;
          break;
        case FlowIns::kill:
          if (c.a < kRegs) s.reg[c.a] = kUnknown;
          break;
        case FlowIns::alc:
          if (report && c.a < kRegs && s.reg[c.a] != kUnknown && s.reg[c.a] < kLabelBase && s.reg[c.a] > 1000) {
            prog_.report(Severity::error, heap_size, c.loc,
                         "this allocation takes " + std::to_string(s.reg[c.a]) +
                             " words, more than the whole heap of 1000; it overwrites the stack below it",
                         std::string());
          }
          break;
      }
    }
  }

  void branch(const FlowIns& c, FState& s, std::size_t k, bool report) {
    int32_t t = static_cast<std::size_t>(c.x) < prog_.label_at.size() ? prog_.label_at[static_cast<std::size_t>(c.x)] : -1;
    if (t < 0) return;  // a label outside this procedure
    flow_to(static_cast<std::size_t>(t), s, k, report);
  }

  // Joins s into the state at label node t, coming from node `from`.
  void flow_to(std::size_t t, const FState& s, std::size_t from, bool report) {
    if (report) return;
    FState& d = state(t);
    if (!d.reached) {
      d = s;
      work_.push_back(t);
      return;
    }
    bool changed = false;
    if (d.depth != s.depth && d.depth != kTop && s.depth != kTop && !conflicts_.count(t))
      conflicts_.emplace(t, Conflict{d.depth, s.depth, from});
    if (d.depth != s.depth && d.depth != kTop) {
      d.depth = kTop;
      d.first_push = -1;
      changed = true;
    }
    for (int r = 0; r < kRegs; r++)
      if (d.reg[r] != s.reg[r] && d.reg[r] != kUnknown) {
        d.reg[r] = kUnknown;
        changed = true;
      }
    if (d.last_cal != s.last_cal && d.last_cal != -1) {
      d.last_cal = -1;
      d.last_callee = -1;
      changed = true;
    }
    if (changed) work_.push_back(t);
  }

  void call(FState& s, std::size_t k, bool report) {
    const FlowIns& c = code_[k];
    int callee = -1;
    if (c.a == FlowIns::kNone && c.is_label) {
      callee = static_cast<int>(c.x);
    } else if (c.a < kRegs && s.reg[c.a] >= kLabelBase) {
      callee = static_cast<int>(s.reg[c.a] - kLabelBase);
      // Checked at the end, when every label's segment is known.
      LabelInfo& l = prog_.labels[static_cast<std::size_t>(callee)];
      if (report && !l.reg_call.set()) l.reg_call = {c.loc};
    }
    s.last_cal = static_cast<int>(k);
    s.last_callee = callee;
    if (callee < 0 || s.depth == kTop) {
      s.depth = kTop;
      s.first_push = -1;
      return;
    }
    const LabelInfo& l = prog_.labels[static_cast<std::size_t>(callee)];
    if (l.count < 0) {
      // Not known yet (a procedure further on): checked at the end.
      if (report) {
        uint64_t key = static_cast<uint64_t>(callee) << 32 | static_cast<uint32_t>(s.depth);
        if (prog_.deferred_seen.emplace(key, prog_.deferred.size()).second)
          prog_.deferred.push_back({callee, s.depth, {c.loc}});
      }
      s.depth = kTop;
      s.first_push = -1;
      return;
    }
    if (s.depth < l.count) {
      if (report) {
        Diag* d = prog_.report(Severity::error, argument_count, c.loc,
                               "call to " + quoted(l.name) + " with " + words(s.depth) + " pushed, but its rtn removes " +
                                   std::to_string(l.count) + ": the callee takes words that belong to its caller",
                               std::string());
        if (d && l.count_site.set()) d->notes.push_back({l.count_site.loc, "the rtn of " + quoted(l.name) + " is here", std::string()});
      }
      // Go on as if the call took every word there was.
      s.depth = 0;
      s.first_push = -1;
      return;
    }
    s.depth -= l.count;
    if (s.depth == 0) s.first_push = -1;
  }

  void left_at_rtn(const FState& s, std::size_t k) {
    const FlowIns& r = code_[k];
    std::string m = words(s.depth) + " pushed and not taken by any call when the procedure returns: the stack loses " +
                    (s.depth == 1 ? "it" : "them") + " on every pass";
    Diag* d = nullptr;
    if (s.last_cal >= 0) {
      const FlowIns& c = code_[static_cast<std::size_t>(s.last_cal)];
      std::string callee;
      if (s.last_callee >= 0) callee = " to " + quoted(prog_.labels[static_cast<std::size_t>(s.last_callee)].name);
      d = prog_.report(Severity::error, argument_count, c.loc,
                       "after this call" + callee + ", " + m, std::string());
      if (d && s.last_callee >= 0) {
        const LabelInfo& l = prog_.labels[static_cast<std::size_t>(s.last_callee)];
        if (l.count_site.set())
          d->notes.push_back({l.count_site.loc, "the rtn of " + quoted(l.name) + " removes " + std::to_string(l.count), std::string()});
      }
    } else if (s.first_push >= 0) {
      const FlowIns& p = code_[static_cast<std::size_t>(s.first_push)];
      d = prog_.report(Severity::error, argument_count, p.loc, "this push is never taken by a call: " + m, std::string());
    }
    if (d) d->notes.push_back({r.loc, "the procedure returns here", std::string()});
  }

  // Two paths that reach a label with different numbers of pushed words: found
  // while the pass runs, since the state there then becomes unknown.
  void joins() {
    std::vector<std::pair<std::size_t, Conflict>> list(conflicts_.begin(), conflicts_.end());
    std::sort(list.begin(), list.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    for (const auto& [t, c] : list) {
      const FlowIns& l = code_[t];
      Diag* d = prog_.report(Severity::error, argument_count, l.loc,
                             "paths reach " + quoted(prog_.labels[static_cast<std::size_t>(l.x)].name) + " with " +
                                 words(std::min(c.a, c.b)) + " and " + words(std::max(c.a, c.b)) +
                                 " pushed: a call after it takes the wrong words on one of them",
                             std::string());
      const FlowIns& f = code_[c.from];
      if (d) d->notes.push_back({f.loc, "one path comes from here with " + words(c.b) + " pushed", std::string()});
    }
  }


  struct Conflict {
    int a, b;          // the depth there first, and the one that disagreed
    std::size_t from;  // where the second came from
  };

  Program& prog_;
  const std::vector<FlowIns>& code_;
  std::vector<std::size_t> slot_;  // instruction index of each block start, ascending
  std::vector<FState> in_;
  std::vector<std::size_t> work_;
  std::unordered_map<std::size_t, Conflict> conflicts_;
};

}  // namespace

void analyze(Program& prog, const Procedure& proc) { Flow(prog, proc).run(); }

}  // namespace qv::check
