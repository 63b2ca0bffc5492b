// What the checker keeps about a program while it reads it: the labels (one
// entry per distinct name) and the instructions of the procedure being read,
// for the data-flow pass that runs when the procedure ends.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "check/check.h"
#include "check/diag.h"

namespace qv::check {

// A place and the text of its line, kept for a note.
struct Site {
  Loc loc;
  std::string text;
  bool set() const { return loc.line != 0 || !text.empty(); }
};

struct LabelInfo {
  std::string name;
  bool defined = false;
  bool fixed = false;  // defined by the generated program itself
  Site def;
  bool used = false;
  Site use;            // the first use
  uint32_t uses = 0;
  bool proc = false;   // defined by ntr
  int count = -1;      // words its procedure's rtn lines remove
  Site count_site;     // the first such rtn
};

// One instruction as the data-flow pass sees it.
struct FlowIns {
  enum Op : uint8_t {
    label,  // a join point: x is the label
    psh,    // one word pushed
    cal,    // a = register holding the callee, or x = its label when a = kNone
    rtn,
    bra,    // x = target
    brf,    // x = target
    cst,    // a := x (a label when is_label, else a number)
    mov,    // a := b
    kill,   // a := unknown
    alc,    // a = register holding the word count
  };
  static constexpr uint8_t kNone = 255;
  static constexpr uint8_t kRR = 14;  // the result register

  Op op = kill;
  uint8_t a = kNone, b = kNone;
  bool is_label = false;
  int64_t x = 0;
  Loc loc;
  uint32_t text = 0, text_len = 0;  // the line, in the procedure's text store
};

struct Procedure {
  int label = -1;  // the ntr label, -1 for code before any ntr
  std::vector<FlowIns> code;
  std::string texts;
  void clear() {
    label = -1;
    code.clear();
    texts.clear();
  }
};

struct TransparentHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

struct Program {
  explicit Program(Diags& d, const Settings& s) : diags(d), settings(s) {}

  Diags& diags;
  const Settings& settings;
  std::vector<LabelInfo> labels;
  std::unordered_map<std::string, int, TransparentHash, std::equal_to<>> ids;

  // A call whose callee's word count was not known when its procedure was
  // analysed: checked at the end.  Keyed by callee and pushed words.
  struct Deferred {
    int callee;
    int pushed;
    Site at;
  };
  std::vector<Deferred> deferred;
  std::unordered_map<uint64_t, std::size_t> deferred_seen;

  int id(std::string_view name) {
    auto it = ids.find(name);
    if (it != ids.end()) return it->second;
    int k = static_cast<int>(labels.size());
    labels.emplace_back();
    labels.back().name = std::string(name);
    ids.emplace(std::string(name), k);
    return k;
  }

  bool on(int rule) const { return settings.on[rule]; }

  Diag* report(Severity s, int rule, const Loc& loc, std::string message, std::string text) {
    if (!on(rule)) return nullptr;
    return &diags.add(s, rule, loc, std::move(message), std::move(text));
  }
};

// Runs the data-flow pass over one procedure and reports what holds on every
// path: calls with too few pushed words, words left pushed at a rtn, paths
// that join with different counts, and allocations larger than the heap.
void analyze(Program& prog, const Procedure& proc);

}  // namespace qv::check
