// The data-flow pass over a group of procedures, in the manner of a bytecode
// verifier.  The group's code is cut into blocks (each label and each ntr
// begins one); a procedure is the blocks its ntr reaches, a path ending at a
// rtn or where it would fall into the next ntr.  Over each procedure a
// forward pass runs to a fixed point (labels join, bra and brf branch) over a
// small state: the words pushed and not yet taken by a call, the constant (a
// label or a number) or frame word each register holds, and the heap words
// allocated on every path.  Diagnostics come from a last sweep over the final
// states, so they hold on every path.
#include <algorithm>
#include <climits>
#include <tuple>

#include "check/program.h"

namespace qv::check {

namespace {

constexpr int64_t kUnknown = INT64_MIN;
constexpr int64_t kLabelBase = int64_t{1} << 40;  // a label constant: kLabelBase + id
constexpr int64_t kFrameBase = int64_t{1} << 50;  // a frame word's address: kFrameBase + the var's index
constexpr int kTop = INT_MIN;                      // pushed words differ between paths
constexpr int kRegs = 15;
constexpr int64_t kHeapWords = 1000;
// The largest frame SPIM's default stack holds: with the main constructor's
// frame of 31,760 local words the first call stops the run ("Can't expand
// stack segment"), even with an empty environment.
constexpr int32_t kMaxLocals = 31760;

struct FState {
  bool reached = false;
  int depth = 0;
  int32_t push = -1;        // the newest push not yet taken (a node), the older behind it
  int32_t last_cal = -1;    // the last call on every path, or -1
  int32_t last_callee = -1; // its callee, when known
  uint32_t cal_seq = 0;     // when that call ran, against the pushes' seq
  int64_t heap = 0;         // words allocated on every path since the entry
  int64_t reg[kRegs];
  FState() { std::fill(std::begin(reg), std::end(reg), kUnknown); }
};

// A pushed word not yet taken: the push that made it and the word below it.
struct Node {
  int32_t ins, older;
  uint32_t seq;
};

struct Block {
  uint32_t begin, live, end;  // instructions [begin, end); a path leaves at `live` (after bra or rtn)
  uint32_t succ_at = 0, succ_n = 0;
  int32_t rtn = -1;    // the rtn that ends it
  int32_t store = -1;  // its first push or call, which store below $sp
  bool falls = false;  // the path runs on into the next block (a label)
  bool worth = false;  // a call, rtn, alc or sto: the last sweep looks at it
};

}  // namespace

// The pass's buffers, kept from one group to the next so that it allocates
// nothing per group once they have grown.
struct FlowWork {
  std::vector<Block> blocks;
  std::vector<uint32_t> succ, stamp, region, todo, work, touched;
  std::vector<bool> told;
  std::vector<FState> in;
  std::vector<Node> nodes;
  uint32_t mark = 0;  // the procedure last stamped on the blocks it reaches
};

namespace {

std::string words(int64_t n) { return std::to_string(n) + (n == 1 ? " word" : " words"); }

Loc at_col(Loc l, int32_t col) {
  if (col > 0) l.col = static_cast<uint32_t>(col);
  return l;
}

class Flow {
 public:
  // Cuts the code into blocks in one pass: what ends each, where its
  // branches go, and what the later passes look for in it.
  Flow(Program& prog, const Procedure& group) : prog_(prog), code_(group.code), w_(work(prog)) {
    blocks_.clear();
    succ_.clear();
    auto& at = prog_.label_at;
    if (at.size() < prog_.labels.size()) at.resize(prog_.labels.size(), -1);
    bool ended = false;  // by a bra or a rtn
    for (uint32_t i = 0; i < code_.size(); i++) {
      const FlowIns& c = code_[i];
      if (i == 0 || c.op == FlowIns::label || c.op == FlowIns::entry) {
        if (i) close(i, ended);
        ended = false;
        blocks_.push_back({i, i, i});
        blocks_.back().succ_at = static_cast<uint32_t>(succ_.size());
        if (c.op == FlowIns::label && at[static_cast<std::size_t>(c.x)] < 0)
          at[static_cast<std::size_t>(c.x)] = static_cast<int32_t>(blocks_.size() - 1);
      }
      if (ended) continue;
      Block& k = blocks_.back();
      switch (c.op) {
        case FlowIns::psh:
        case FlowIns::cal:
          if (k.store < 0) k.store = static_cast<int32_t>(i);
          k.worth |= c.op == FlowIns::cal;
          break;
        case FlowIns::alc:
        case FlowIns::sto:
          k.worth = true;
          break;
        case FlowIns::rtn:
          k.worth = true;
          k.rtn = static_cast<int32_t>(i);
          k.live = i + 1;
          ended = true;
          break;
        case FlowIns::bra:
        case FlowIns::brf:
          succ_.push_back(static_cast<uint32_t>(c.x));  // the label, for now
          if (c.op == FlowIns::bra) {
            k.live = i + 1;
            ended = true;
          }
          break;
        default:
          break;
      }
    }
    if (!code_.empty()) close(static_cast<uint32_t>(code_.size()), ended);
    // The labels are all known now: from labels to blocks.
    for (uint32_t& t : succ_) {
      int32_t b = t < at.size() ? at[t] : -1;
      t = b < 0 ? UINT32_MAX : static_cast<uint32_t>(b);
    }
  }

  void close(uint32_t end, bool ended) {
    Block& k = blocks_.back();
    k.end = end;
    if (!ended) k.live = end;
    k.falls = !ended && end < code_.size() && code_[end].op == FlowIns::label;
    k.succ_n = static_cast<uint32_t>(succ_.size()) - k.succ_at;
  }

  ~Flow() {
    for (const FlowIns& c : code_)
      if (c.op == FlowIns::label) prog_.label_at[static_cast<std::size_t>(c.x)] = -1;
  }

  // What the group's procedures are, their rtn counts, and the checks that
  // need no state: run once, when the group is read.
  void shapes() {
    if (stamp_.size() < blocks_.size()) stamp_.resize(blocks_.size(), 0);
    told_.assign(code_.size(), false);
    for (std::size_t b = 0; b < blocks_.size(); b++)
      if (is_entry(b)) shape(b, ++w_.mark);
  }

  // Whether a call in the group may go to a procedure not read yet.
  bool calls_ahead() const {
    bool call = false, ahead = false;
    for (const FlowIns& c : code_) {
      if (c.op == FlowIns::cal) {
        call = true;
        if (c.a == FlowIns::kNone && c.is_label && !prog_.labels[static_cast<std::size_t>(c.x)].defined) return true;
      }
      if (c.op == FlowIns::cst && c.is_label && !prog_.labels[static_cast<std::size_t>(c.x)].defined) ahead = true;
    }
    return call && ahead;
  }

  // The data-flow pass over each procedure of the group; a quiet one only
  // marks the calls through registers.
  void states(bool quiet) {
    quiet_ = quiet;
    // Every state is back to its start after each procedure.
    if (in_.size() < blocks_.size()) in_.resize(blocks_.size());
    told_.assign(code_.size(), false);
    for (std::size_t b = 0; b < blocks_.size(); b++)
      if (is_entry(b)) procedure(b);
  }

 private:
  bool is_entry(std::size_t b) const { return b == 0 || code_[blocks_[b].begin].op == FlowIns::entry; }

  // Where a branch goes: its block in this group, or -1 (a path leaves it).
  int32_t target(const FlowIns& c) const {
    auto x = static_cast<std::size_t>(c.x);
    return x < prog_.label_at.size() ? prog_.label_at[x] : -1;
  }

  // The blocks the entry at block e reaches, in code order.
  void reach(std::size_t e, uint32_t mark) {
    region_.clear();
    todo_.clear();
    todo_.push_back(static_cast<uint32_t>(e));
    stamp_[e] = mark;
    while (!todo_.empty()) {
      uint32_t b = todo_.back();
      todo_.pop_back();
      region_.push_back(b);
      const Block& k = blocks_[b];
      for (uint32_t s = k.succ_at; s <= k.succ_at + k.succ_n; s++) {
        uint32_t t = s < k.succ_at + k.succ_n ? succ_[s] : k.falls ? b + 1 : UINT32_MAX;
        if (t != UINT32_MAX && stamp_[t] != mark) {
          stamp_[t] = mark;
          todo_.push_back(t);
        }
      }
    }
    std::sort(region_.begin(), region_.end());
  }

  void shape(std::size_t e, uint32_t mark) {
    reach(e, mark);
    const FlowIns* ntr = code_[blocks_[e].begin].op == FlowIns::entry ? &code_[blocks_[e].begin] : nullptr;
    const FlowIns* first = nullptr;  // the first rtn that says how many words it removes
    const FlowIns* store = nullptr;  // the first push or call
    for (uint32_t b : region_) {
      const Block& k = blocks_[b];
      if (k.store >= 0 && !store) store = &code_[static_cast<std::size_t>(k.store)];
      if (k.rtn < 0 || code_[static_cast<std::size_t>(k.rtn)].x < 0) continue;
      auto i = static_cast<std::size_t>(k.rtn);
      const FlowIns& c = code_[i];
      if (!first) {
        first = &c;
      } else if (c.x != first->x && !told_[i]) {
        told_[i] = true;
        Diag* d = prog_.report(Severity::error, argument_count, at_col(c.loc, c.n),
                               "this rtn removes " + words(c.x) + ", but an earlier rtn of the same procedure removes " +
                                   std::to_string(first->x) + ": no caller can push the right number for both",
                               std::string());
        if (d) d->notes.push_back({at_col(first->loc, first->n), "the earlier rtn is here", std::string()});
      }
    }
    if (!ntr) return;
    if (first && ntr->x >= 0) {
      LabelInfo& l = prog_.labels[static_cast<std::size_t>(ntr->x)];
      if (l.count < 0) {
        l.count = static_cast<int>(first->x);
        l.count_site = {at_col(first->loc, first->n)};
      }
    }
    if (store && ntr->n != FlowIns::kNoCount && (ntr->n < 0 || (ntr->n >= kMaxLocals && !prog_.settings.stack_set)))
      frame(*ntr, *store);
  }

  // A frame whose local words push $sp where the next push or call breaks it.
  void frame(const FlowIns& ntr, const FlowIns& store) {
    std::string m;
    if (ntr.n < 0)
      m = "a negative number of local words: the entry leaves $sp " + words(-static_cast<int64_t>(ntr.n)) +
          " above its frame, so the next push or call overwrites the saved frame pointer and return address; the rtn "
          "then returns to a wrong frame or address (in SPIM, endless exceptions)";
    else
      m = std::to_string(ntr.n) + " local words need more than SPIM's default stack can grow to: the first push or call "
          "below them stops the run with \"Can't expand stack segment\" (quorvelin-run --stack raises the limit)";
    Diag* d = prog_.report(Severity::error, argument_count, ntr.loc, m, std::string());
    if (d) d->notes.push_back({store.loc, store.op == FlowIns::psh ? "the first push is here" : "the first call is here", std::string()});
  }

  void procedure(std::size_t e) {
    nodes_.clear();
    work_.clear();
    touched_.clear();
    conflicts_.clear();
    seq_ = 0;
    FState& s0 = in_[e];
    s0 = FState();
    s0.reached = true;
    touched_.push_back(static_cast<uint32_t>(e));
    work_.push_back(static_cast<uint32_t>(e));
    while (!work_.empty()) {
      uint32_t b = work_.back();
      work_.pop_back();
      block(b, false);
    }
    // The last sweep reports, in code order.
    std::sort(touched_.begin(), touched_.end());
    for (uint32_t b : touched_)
      if (blocks_[b].worth) block(b, true);
    joins();
    for (uint32_t b : touched_) in_[b] = FState();
  }

  bool tell(bool report) const { return report && !quiet_; }

  // Runs one block from the state where it begins; with `report` set,
  // reports as it goes instead of passing states on.
  void block(uint32_t b, bool report) {
    const Block& k = blocks_[b];
    FState s = in_[b];
    for (uint32_t i = k.begin; i < k.live; i++) {
      const FlowIns& c = code_[i];
      switch (c.op) {
        case FlowIns::label:
        case FlowIns::entry:
          break;
        case FlowIns::psh:
          if (s.depth != kTop) {
            nodes_.push_back({static_cast<int32_t>(i), s.push, ++seq_});
            s.push = static_cast<int32_t>(nodes_.size() - 1);
            s.depth++;
          }
          break;
        case FlowIns::cal:
          call(s, i, report);
          s.reg[FlowIns::kRR] = kUnknown;
          break;
        case FlowIns::rtn:
          if (tell(report) && s.depth != kTop && s.depth > 0) left_at_rtn(s, i);
          return;
        case FlowIns::bra:
        case FlowIns::brf: {
          int32_t t = target(c);
          if (t >= 0 && !report) flow_to(static_cast<uint32_t>(t), s, i);
          break;
        }
        case FlowIns::cst:
          if (c.a < kRegs) s.reg[c.a] = c.is_label ? kLabelBase + c.x : c.x;
          break;
        case FlowIns::mov:
          if (c.a < kRegs) s.reg[c.a] = c.b < kRegs ? s.reg[c.b] : kUnknown;
          break;
        case FlowIns::kill:
          for (uint32_t m = static_cast<uint32_t>(c.n); m; m &= m - 1) s.reg[__builtin_ctz(m)] = kUnknown;
          break;
        case FlowIns::var:
          if (c.a < kRegs) s.reg[c.a] = kFrameBase + i;
          break;
        case FlowIns::sto:
          if (tell(report) && c.a < kRegs && s.reg[c.a] >= kFrameBase) over_link(static_cast<uint32_t>(s.reg[c.a] - kFrameBase), c);
          break;
        case FlowIns::alc:
          alloc(s, c, report);
          break;
      }
    }
    if (k.falls && !report) flow_to(b + 1, s, k.end - 1);
  }

  // Joins s into the state where block t begins, coming from instruction `from`.
  void flow_to(uint32_t t, const FState& s, uint32_t from) {
    FState& d = in_[t];
    if (!d.reached) {
      d = s;
      touched_.push_back(t);
      work_.push_back(t);
      return;
    }
    bool changed = false;
    if (d.depth != s.depth && d.depth != kTop) {
      if (s.depth != kTop && std::none_of(conflicts_.begin(), conflicts_.end(), [t](const Conflict& c) { return c.block == t; }))
        conflicts_.push_back(conflict(t, d, s, from));
      d.depth = kTop;
      d.push = -1;
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
    if (s.heap < d.heap) {
      d.heap = s.heap;
      changed = true;
    }
    if (changed) work_.push_back(t);
  }

  void call(FState& s, uint32_t i, bool report) {
    const FlowIns& c = code_[i];
    int callee = -1;
    if (c.a == FlowIns::kNone && c.is_label) {
      callee = static_cast<int>(c.x);
    } else if (c.a < kRegs && s.reg[c.a] >= kLabelBase && s.reg[c.a] < kFrameBase) {
      callee = static_cast<int>(s.reg[c.a] - kLabelBase);
      // Checked at the end, when every label's segment is known.
      LabelInfo& l = prog_.labels[static_cast<std::size_t>(callee)];
      if (report && !l.reg_call.set()) l.reg_call = {c.loc};
    }
    s.last_cal = static_cast<int32_t>(i);
    s.last_callee = callee;
    s.cal_seq = ++seq_;
    const LabelInfo* l = callee >= 0 ? &prog_.labels[static_cast<std::size_t>(callee)] : nullptr;
    if (!l || l->count < 0 || s.depth == kTop) {
      s.depth = kTop;
      s.push = -1;
      return;
    }
    if (s.depth < l->count) {
      if (tell(report)) {
        Diag* d = prog_.report(Severity::error, argument_count, c.loc,
                               "call to " + quoted(l->name) + " with " + words(s.depth) + " pushed, but its rtn removes " +
                                   std::to_string(l->count) + ": the callee takes words that belong to its caller",
                               std::string());
        if (d && l->count_site.set()) d->notes.push_back({l->count_site.loc, "the rtn of " + quoted(l->name) + " is here", std::string()});
      }
      // Go on as if the call took every word there was.
      s.depth = 0;
      s.push = -1;
      return;
    }
    s.depth -= l->count;
    for (int n = 0; n < l->count; n++) s.push = nodes_[static_cast<std::size_t>(s.push)].older;
  }

  // The oldest of the words above `keep` on the path of s: the first one
  // too many (a node, or -1).
  int32_t surplus(const FState& s, int keep) const {
    int32_t p = s.push;
    for (int n = s.depth - keep - 1; n > 0 && p >= 0; n--) p = nodes_[static_cast<std::size_t>(p)].older;
    return p;
  }

  // Whom to blame for the words above `keep`: the last call, when it ran
  // after they were pushed and left them, else the first of those pushes.
  struct Blame {
    int32_t ins = -1;
    int32_t callee = -1;
  };
  Blame blame(const FState& s, int keep) const {
    int32_t p = surplus(s, keep);
    if (p < 0) return {s.last_cal, s.last_callee};
    const Node& n = nodes_[static_cast<std::size_t>(p)];
    if (s.last_cal >= 0 && n.seq < s.cal_seq) return {s.last_cal, s.last_callee};
    return {n.ins, -1};
  }

  // Once per instruction blamed.
  Diag* blame_report(const Blame& b, std::string message) {
    if (b.ins < 0 || told_[static_cast<std::size_t>(b.ins)]) return nullptr;
    told_[static_cast<std::size_t>(b.ins)] = true;
    return prog_.report(Severity::error, argument_count, code_[static_cast<std::size_t>(b.ins)].loc, std::move(message),
                        std::string());
  }

  void callee_note(Diag* d, int32_t callee) {
    if (!d || callee < 0) return;
    const LabelInfo& l = prog_.labels[static_cast<std::size_t>(callee)];
    if (l.count_site.set())
      d->notes.push_back({l.count_site.loc, "the rtn of " + quoted(l.name) + " removes " + std::to_string(l.count), std::string()});
  }

  std::string call_to(const Blame& b) const {
    return b.callee >= 0 ? " to " + quoted(prog_.labels[static_cast<std::size_t>(b.callee)].name) : std::string();
  }

  void left_at_rtn(const FState& s, uint32_t i) {
    Blame b = blame(s, 0);
    std::string m = words(s.depth) + " pushed and not taken by any call when the procedure returns: the stack loses " +
                    (s.depth == 1 ? "it" : "them") + " on every pass";
    if (b.ins < 0) return;
    bool is_call = code_[static_cast<std::size_t>(b.ins)].op == FlowIns::cal;
    Diag* d = blame_report(b, is_call ? "after this call" + call_to(b) + ", " + m
                                      : "this push is never taken by a call: " + m);
    if (is_call) callee_note(d, b.callee);
    if (d) d->notes.push_back({code_[i].loc, "the procedure returns here", std::string()});
  }

  // Two paths that reach a block with different numbers of pushed words: the
  // one with more has words too many.  Found while the pass runs, since the
  // state there then becomes unknown.
  struct Conflict {
    uint32_t block;
    int more, fewer;  // the words on the two paths
    Blame who;
    uint32_t from;    // where the path that disagreed came from
    int from_words;   // with how many
  };

  Conflict conflict(uint32_t t, const FState& d, const FState& s, uint32_t from) {
    const FState& big = s.depth > d.depth ? s : d;
    int fewer = std::min(s.depth, d.depth);
    return {t, big.depth, fewer, blame(big, fewer), from, s.depth};
  }

  void joins() {
    if (quiet_) return;
    std::sort(conflicts_.begin(), conflicts_.end(), [](const Conflict& x, const Conflict& y) { return x.block < y.block; });
    for (const Conflict& c : conflicts_) {
      const FlowIns& l = code_[blocks_[c.block].begin];
      std::string name = l.op == FlowIns::label ? quoted(prog_.labels[static_cast<std::size_t>(l.x)].name) : "the block";
      int extra = c.more - c.fewer;
      bool loop = c.from >= blocks_[c.block].begin && c.more == c.from_words;
      if (c.who.ins < 0) continue;
      bool is_call = code_[static_cast<std::size_t>(c.who.ins)].op == FlowIns::cal;
      std::string effect = loop ? ": each pass leaves " + words(extra) + " more on the stack"
                                : ", which another path reaches with " + words(c.fewer) +
                                      ": a call after it takes the wrong words on one of them";
      std::string what = (loop ? "when the loop goes back to " : "where the path reaches ") + name + effect;
      std::string before = (loop ? "before the loop goes back to " : "before the path reaches ") + name + effect;
      Diag* d = is_call ? blame_report(c.who, "after this call" + call_to(c.who) + ", " + words(extra) +
                                                  (extra == 1 ? " stays" : " stay") + " pushed " + what)
                        : blame_report(c.who, "this push is not taken by a call " + before);
      if (is_call) callee_note(d, c.who.callee);
      if (d && loop)
        d->notes.push_back({code_[c.from].loc, "the loop goes back here", std::string()});
      else if (d)
        d->notes.push_back({l.loc, "the paths meet here", std::string()});
    }
  }

  // A sto through the address of a frame's saved frame pointer, return
  // address or static link, which its rtn and the variable lookups read back.
  void over_link(uint32_t v, const FlowIns& sto) {
    if (told_[v]) return;
    told_[v] = true;
    const FlowIns& var = code_[v];
    std::string m;
    if (var.x == 1)
      m = "displacement 1 is the frame's saved frame pointer, and a sto overwrites it: the rtn hands the caller that "
          "value as its frame, and the caller's variables land at wrong addresses (in SPIM, endless exceptions)";
    else if (var.x == 0)
      m = "displacement 0 is the frame's return address, and a sto overwrites it: the rtn jumps to the stored value "
          "(in SPIM, endless 'Bad instruction address' exceptions)";
    else
      m = "displacement -1 is the frame's static link, and a sto overwrites it: variables of the enclosing procedures "
          "are then looked up from the stored value, at wrong addresses";
    Diag* d = prog_.report(Severity::error, argument_count, var.loc, m, std::string());
    if (d) d->notes.push_back({sto.loc, "the word is overwritten here", std::string()});
  }

  void alloc(FState& s, const FlowIns& c, bool report) {
    int64_t n = kUnknown;
    if (c.a == FlowIns::kNone)
      n = c.x;
    else if (c.a < kRegs && s.reg[c.a] != kUnknown && s.reg[c.a] < kLabelBase)
      n = s.reg[c.a];
    if (n == kUnknown) return;
    if (tell(report) && n > 0) {
      if (n > kHeapWords)
        prog_.report(Severity::error, heap_size, c.loc,
                     "this allocation takes " + std::to_string(n) + " words, more than the whole heap of " +
                         std::to_string(kHeapWords) + "; it overwrites the stack below it",
                     std::string());
      else
        prog_.heap_uses.push_back({c.loc, s.heap, n});
    }
    s.heap = std::clamp<int64_t>(s.heap + n, 0, kHeapWords + 1);
  }

  static FlowWork& work(Program& prog) {
    if (!prog.flow_work) prog.flow_work = std::make_shared<FlowWork>();
    return *prog.flow_work;
  }

  Program& prog_;
  const std::vector<FlowIns>& code_;
  bool quiet_ = false;  // the group waits for the end: its calls are only marked now
  FlowWork& w_;
  std::vector<Block>& blocks_ = w_.blocks;
  std::vector<uint32_t>& succ_ = w_.succ;
  std::vector<uint32_t>& stamp_ = w_.stamp;  // per block, the last procedure that reached it
  std::vector<uint32_t>& region_ = w_.region;
  std::vector<uint32_t>& todo_ = w_.todo;
  std::vector<bool>& told_ = w_.told;        // per instruction, reported already
  std::vector<FState>& in_ = w_.in;
  std::vector<uint32_t>& work_ = w_.work;
  std::vector<uint32_t>& touched_ = w_.touched;
  std::vector<Node>& nodes_ = w_.nodes;
  uint32_t seq_ = 0;
  std::vector<Conflict> conflicts_;
};

}  // namespace

void analyze(Program& prog, Procedure& group) {
  bool wait;
  {
    Flow f(prog, group);
    f.shapes();
    // A group that may call a procedure not read yet has its calls checked
    // at the end; the calls through registers are marked now, for the
    // checks of what the labels turn out to be.
    wait = f.calls_ahead();
    f.states(wait);
  }
  // A copy, so that the group being read keeps its buffer.
  if (wait) prog.waiting.push_back(group);
}

void analyze_at_end(Program& prog) {
  for (Procedure& g : prog.waiting) Flow(prog, g).states(false);
  prog.waiting.clear();
  // A main object larger than the heap has an error of its own; the
  // allocations are then held against the heap alone.
  long long main = prog.main_words >= 0 && prog.main_words <= kHeapWords ? prog.main_words : 0;
  std::sort(prog.heap_uses.begin(), prog.heap_uses.end(), [](const Program::HeapUse& a, const Program::HeapUse& b) {
    return std::tuple(a.loc.file, a.loc.line, a.loc.col, -a.before) < std::tuple(b.loc.file, b.loc.line, b.loc.col, -b.before);
  });
  const Loc* last = nullptr;
  for (const Program::HeapUse& u : prog.heap_uses) {
    bool same = last && last->file == u.loc.file && last->line == u.loc.line && last->col == u.loc.col;
    last = &u.loc;
    // Only the allocation that first goes past the end: those after it on
    // the path go past as well.
    if (same || main + u.before + u.words <= kHeapWords || main + u.before > kHeapWords) continue;
    std::string before = words(main + u.before) + " allocated before it on every path";
    if (main > 0) before += " (the main object's " + std::to_string(main) + " included)";
    prog.report(Severity::error, heap_size, u.loc,
                "this allocation of " + words(u.words) + " goes past the heap of " + std::to_string(kHeapWords) +
                    " words: the " + before + " leave " + std::to_string(kHeapWords - main - u.before) +
                    "; its block reaches into the stack, where frames and local words overwrite it",
                std::string());
  }
  prog.heap_uses.clear();
}

}  // namespace qv::check
