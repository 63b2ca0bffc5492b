// What the checker keeps about a program while it reads it: the labels (one
// entry per distinct name) and the instructions of the procedures being read,
// for the data-flow pass that runs when they end.
#pragma once

#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "check/check.h"
#include "check/diag.h"

namespace qv::check {

// A place kept for a later diagnostic or note; its line is read back from the
// file when it is shown, so nothing of the text is kept here.
struct Site {
  Loc loc;
  bool set() const { return loc.line != 0; }
};

struct FlowWork;  // the data-flow pass's buffers (flow.cpp)

struct LabelInfo {
  std::string name;
  bool defined = false;
  bool fixed = false;  // defined by the generated program itself
  Site def;
  bool used = false;
  Site use;            // the first use
  uint32_t uses = 0;
  bool proc = false;   // defined by ntr
  bool data = false;   // defined in the data segment (str, cls, the generated data block)
  bool after_table = false;  // a line label that the end of a class table left in the data segment
  Site branch;         // the first bra or brf to it
  Site call;           // the first call straight to it (cal with a label, end's constructor)
  Site reg_call;       // the first call through a register that holds it on every path
  int count = -1;      // words its procedure's rtn lines remove
  Site count_site;     // the first such rtn
  uint32_t awaited = 0;  // the group whose branches wait for its definition
};

// One instruction as the data-flow pass sees it.
struct FlowIns {
  enum Op : uint8_t {
    label,  // a join point: x is the label
    entry,  // ntr: x = its label or -1, n = local words (kNoCount: not a number)
    psh,    // one word pushed
    cal,    // a = register holding the callee, or x = its label when a = kNone
    rtn,    // x = words it removes or -1, n = the column of that number
    bra,    // x = target
    brf,    // x = target
    cst,    // a := x (a label when is_label, else a number)
    mov,    // a := b
    kill,   // the registers of the mask n := unknown
    alc,    // a = register holding the word count, or x = the count when a = kNone
    var,    // a := the address of frame word x (-1, 0 or 1: the links a rtn reads)
    sto,    // stores through the address in a
  };
  static constexpr uint8_t kNone = 255;
  static constexpr uint8_t kRR = 14;  // the result register
  static constexpr int32_t kNoCount = INT32_MIN;

  Op op = kill;
  uint8_t a = kNone, b = kNone;
  bool is_label = false;
  int32_t n = 0;
  int64_t x = 0;
  Loc loc;
};

// The instructions from one ntr on, up to an ntr that no branch before it
// jumps over.  A compiler of nested procedures writes an inner procedure in
// the middle of its parent and branches around it, so one group can hold
// several procedures; each is what its ntr reaches.
struct Procedure {
  std::vector<FlowIns> code;
  uint32_t number = 1;  // labels its branches wait for carry it
  int open = 0;         // labels branched to and not yet defined
  bool links = false;   // a var addresses a frame's links: its stores matter
  void clear() {
    code.clear();
    open = 0;
    links = false;
    number++;
  }
};

// Label names to their numbers: open addressing over a power-of-two table,
// each slot holding the name's hash and number, the names themselves in one
// block.  Labels are looked up on most lines, so this is kept small and flat.
class LabelTable {
 public:
  // The number of `name`, or -1.  `h` is hash(name).
  int find(std::string_view name, uint32_t h) const {
    if (slots_.empty()) return -1;
    for (std::size_t i = h & mask_;; i = (i + 1) & mask_) {
      const Slot& s = slots_[i];
      if (s.id < 0) return -1;
      if (s.hash == h && text(s) == name) return s.id;
    }
  }
  void add(std::string_view name, uint32_t h, int id) {
    if ((count_ + 1) * 2 > slots_.size()) grow();
    Slot s{h, id, static_cast<uint32_t>(names_.size()), static_cast<uint32_t>(name.size())};
    names_.append(name);
    place(s);
    count_++;
  }
  static uint32_t hash(std::string_view s) {
    uint32_t h = 2166136261u;  // FNV-1a
    for (char c : s) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    return h;
  }

 private:
  struct Slot {
    uint32_t hash = 0;
    int32_t id = -1;
    uint32_t at = 0, len = 0;
  };
  std::string_view text(const Slot& s) const { return std::string_view(names_).substr(s.at, s.len); }
  void place(const Slot& s) {
    std::size_t i = s.hash & mask_;
    while (slots_[i].id >= 0) i = (i + 1) & mask_;
    slots_[i] = s;
  }
  void grow() {
    std::vector<Slot> old;
    old.swap(slots_);
    slots_.assign(old.empty() ? 1024 : old.size() * 2, Slot());
    mask_ = slots_.size() - 1;
    for (const Slot& s : old)
      if (s.id >= 0) place(s);
  }
  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  std::size_t count_ = 0;
  std::string names_;
};

struct Program {
  explicit Program(Diags& d, const Settings& s) : diags(d), settings(s) {
  }

  Diags& diags;
  const Settings& settings;
  std::vector<LabelInfo> labels;
  LabelTable ids;

  // Groups that call procedures further on: analysed again at the end,
  // when every procedure's word count is known.
  std::vector<Procedure> waiting;
  // Per label, its block in the group being analysed (-1 elsewhere); kept
  // here so the pass allocates nothing per group.
  std::vector<int32_t> label_at;
  // Allocations whose words are known, with what every path allocated before
  // them: held against the heap once the main object's size is known.
  struct HeapUse {
    Loc loc;
    int64_t before, words;
  };
  std::vector<HeapUse> heap_uses;
  long long main_words = -1;  // the end line's first operand
  std::shared_ptr<FlowWork> flow_work;

  int id(std::string_view name) {
    uint32_t h = LabelTable::hash(name);
    int k = ids.find(name, h);
    if (k >= 0) return k;
    k = static_cast<int>(labels.size());
    labels.emplace_back();
    labels.back().name = std::string(name);
    ids.add(name, h, k);
    return k;
  }

  bool on(int rule) const { return settings.on[rule]; }

  Diag* report(Severity s, int rule, const Loc& loc, std::string message, std::string text) {
    if (!on(rule)) return nullptr;
    return &diags.add(s, rule, loc, std::move(message), std::move(text));
  }
};

// Runs the data-flow pass over a group of procedures and reports what holds
// on every path: calls with too few pushed words, words left pushed at a rtn
// or where paths join, rtn lines that disagree, frames SPIM cannot hold,
// stores over the links of a frame, and allocations beyond the heap.  A
// group that calls a procedure not yet read waits in prog.waiting.
void analyze(Program& prog, Procedure& group);
// The waiting groups, once the whole program is read, and the heap.
void analyze_at_end(Program& prog);

}  // namespace qv::check
