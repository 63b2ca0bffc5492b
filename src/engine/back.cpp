// Going back in a run: an instant is an instruction count, and going back
// to one repeats the run to exactly there, from the nearest copy of SPIM
// parked on an earlier pass, else from a fresh SPIM.  The reverse commands
// look back in windows of the run for the place to go to.
#include <algorithm>

#include "engine/engine.h"
#include "spim/trap.h"

namespace qv::engine {

namespace {

std::string hex(uint32_t v) { return spim::hex(v); }

}  // namespace

bool Engine::can_go_back(uint64_t& now) {
  history_start_ = false;
  if (!history_) {
    why_ = "The program is not being run.";
    return false;
  }
  if (!instructions(now)) {
    why_ = "Cannot go back: SPIM runs without the library that counts its instructions.";
    return false;
  }
  return true;
}

std::vector<uint32_t> Engine::line_starts() const {
  std::vector<uint32_t> v;
  for (const auto& [addr, piece] : starts_)
    if (!is_entry(piece)) v.push_back(addr);
  return v;  // a map's keys: ascending
}

void Engine::set(uint64_t at, int reg, uint32_t addr, uint32_t value) {
  set_.push_back({at, reg, addr, value});
  forget_moves_after(at);
  // A snapshot past this instant was taken without the value.
  forget([at](const Snapshot& k) { return k.at <= at; });
}

void Engine::forget(const std::function<bool(const Snapshot&)>& keep) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < snapshots_.size(); i++) {
    Snapshot& k = snapshots_[i];
    if (keep && keep(k)) {
      if (kept != i) snapshots_[kept] = std::move(k);  // never onto itself: that empties it
      kept++;
      continue;
    }
    if (k.generation == session_.generation()) session_.drop(k.number);
  }
  snapshots_.resize(kept);
}

void Engine::snapshot(uint64_t at) {
  // At most this many: past it, every other one goes (the first stays).
  constexpr std::size_t kMost = 48;
  auto pos = std::lower_bound(snapshots_.begin(), snapshots_.end(), at,
                              [](const Snapshot& k, uint64_t t) { return k.at < t; });
  if (pos != snapshots_.end() && pos->at == at && pos->begun == begun_) return;
  Snapshot k;
  k.number = session_.checkpoint();
  if (k.number < 0) return;
  k.at = at;
  k.generation = session_.generation();
  k.own = own_;
  k.made = made_;
  k.given_at = given_at_;
  k.set_at = set_at_;
  k.pc = pc_;
  k.piece = piece_;
  k.begun = begun_;
  k.running = running_;
  k.kept_valid = kept_valid_;
  k.kept = kept_;
  k.control = session_.control();
  snapshots_.insert(pos, std::move(k));
  if (snapshots_.size() > kMost) {
    std::size_t i = 0;
    forget([&i](const Snapshot&) { return i++ % 2 == 0; });
  }
}

bool Engine::restore(uint64_t to, std::string& why) {
  for (std::size_t i = snapshots_.size(); i-- > 0;) {
    const Snapshot& k = snapshots_[i];
    if (k.at > to || k.generation != session_.generation()) continue;
    std::string error;
    if (!session_.resume(k.number, error)) {
      snapshots_.erase(snapshots_.begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    if (on_spawn_) on_spawn_(session_.pid());
    own_ = k.own;
    made_ = k.made;
    given_at_ = k.given_at;
    set_at_ = k.set_at;
    pc_ = k.pc;
    piece_ = k.piece;
    begun_ = k.begun;
    running_ = k.running;
    kept_valid_ = k.kept_valid;
    kept_ = k.kept;
    session_.control() = k.control;
    limit_stops_ = session_.counter() ? session_.counter()->stops() : 0;
    fault_ = spim::SpimRun{};
    post_mortem_ = false;
    hit_ = 0;
    if (!begun_ && !session_.go()) {
      why = "SPIM did not start the program again";
      return false;
    }
    return true;
  }
  return fresh(why);
}

bool Engine::fresh(std::string& why) {
  std::string error;
  forget();
  if (!session_.restart(error)) {
    why = "SPIM did not start again: " + error;
    return false;
  }
  if (on_spawn_) on_spawn_(session_.pid());
  spim::Answer a;
  if (!session_.load(a) || !a.err.empty()) {
    why = "SPIM did not load the program again";
    return false;
  }
  // Only the stops the run needs: the user's breakpoints come back at the end.
  if (saved_at_) command("breakpoint " + hex(saved_at_), a);
  for (uint32_t addr : reads_) command("breakpoint " + hex(addr), a);
  own_ = 0;
  limit_stops_ = 0;
  fault_ = spim::SpimRun{};
  post_mortem_ = kept_valid_ = false;
  session_.control().clear();
  given_at_ = set_at_ = 0;
  made_ = 0;
  pc_ = 0;
  piece_ = -1;
  hit_ = 0;
  running_ = true;
  begun_ = false;
  // The start, parked: what later goes back this far starts from here, and
  // the snapshots taken on the way stay with the SPIM they belong to.
  snapshot(0);
  if (!session_.counter() || !session_.go()) {
    why = "SPIM did not start the program again";
    return false;
  }
  return true;
}

bool Engine::rerun(uint64_t to, const std::vector<uint32_t>& at, const Pick& pick, std::vector<Visit>* seen,
                   std::string& why, Scanned* count) {
  spim::InstructionCounter* c = session_.counter();
  for (;;) {
    uint64_t now = 0;
    instructions(now);
    // A value set by hand at this instant is set again (the instructions
    // that set it are the debugger's: the instant stays).
    while (begun_ && set_at_ < set_.size() && set_[set_at_].at == now) {
      const SetByHand& h = set_[set_at_++];
      if (!poke(h.reg, h.addr, h.value, why)) return false;
    }
    if (begun_ && now >= to) return true;
    uint64_t stop = to;
    if (set_at_ < set_.size() && set_[set_at_].at < stop) stop = set_[set_at_].at;
    // A run repeated with no stops but its own parks a copy of SPIM now and
    // then (some 16 on the way), so that going back later starts nearer.
    if (replaying_ && at.empty()) {
      uint64_t every = std::max<uint64_t>(snapshot_every_, to / 16);
      if (begun_ && now > 0 && now % every == 0) snapshot(now);
      stop = std::min(stop, (now / every + 1) * every);
    }
    std::string input;
    if (begun_ && std::binary_search(reads_.begin(), reads_.end(), pc_) && feed(input) != Got::bytes) {
      why = "the program reads more input than it was given";
      return false;
    }
    c->set_limit(spim::kStartupInstructions + own_ + stop, spim::kInterrupt);
    spim::Answer a;
    if (!session_.command(begun_ ? "continue" : "run", input, a)) {
      running_ = false;
      why = "SPIM died";
      return false;
    }
    begun_ = true;
    Stop s = after_stop(a, false);
    if (s == Stop::limit) {
      if (!instructions(now) || now != stop) {
        why = "the repeated run did not stop at instruction " + std::to_string(stop);
        return false;
      }
      // Stopped by the count at a place looked for (where a value is set
      // by hand, say): the continue from here passes its breakpoint.
      if (seen && now < to && std::binary_search(at.begin(), at.end(), pc_) && !visit(now, pick, *seen, count))
        return true;
      continue;
    }
    if (s == Stop::exited || s == Stop::fault || s == Stop::overflow) return true;  // the end: `to` lies past it
    if (s != Stop::line) {
      why = "the repeated run went otherwise";
      return false;
    }
    if (saved_at_ && pc_ == saved_at_) {
      kept_valid_ = all_registers(kept_);
    } else if (seen && std::binary_search(at.begin(), at.end(), pc_)) {
      uint64_t at_now = 0;
      instructions(at_now);
      if (!visit(at_now, pick, *seen, count)) return true;
    }
  }
}

bool Engine::visit(uint64_t now, const Pick& pick, std::vector<Visit>& seen, Scanned* count) {
  if (count && ++count->stops > count->budget && count->budget) {
    count->gave_up = true;
    return false;
  }
  Visit v;
  v.pc = pc_;
  v.at = now;
  if (pick(v)) seen.push_back(std::move(v));
  return true;
}

bool Engine::scan(uint64_t lo, uint64_t hi, const std::vector<uint32_t>& at, const Pick& pick,
                  std::vector<Visit>& seen, std::string& why, Scanned& count) {
  replaying_ = true;
  bool ok = restore(lo, why) && rerun(lo, {}, {}, nullptr, why);
  if (ok && running_) {
    spim::Answer a;
    for (uint32_t addr : at)
      if (addr != saved_at_ && !std::binary_search(reads_.begin(), reads_.end(), addr))
        command("breakpoint " + hex(addr), a);
    // The instant `lo` itself: SPIM stopped before the breakpoint there.
    if (std::binary_search(at.begin(), at.end(), pc_)) {
      count.stops++;
      Visit v;
      v.at = lo;
      v.pc = pc_;
      if (pick(v)) seen.push_back(std::move(v));
    }
    ok = rerun(hi, at, pick, &seen, why, &count);
  }
  replaying_ = false;
  return ok;
}

// Each look back is a run repeated from the start, so what costs is the
// number of looks and the stops within them.  The window grows sixteenfold
// while the addresses were met in it; where they were not met at all,
// nothing says the place is near, and the next look reaches the start, giving
// up (for the sixteenfold window) when it stops too often.
bool Engine::find_back(uint64_t now, uint64_t window, const std::vector<uint32_t>& at, const Pick& pick,
                       Visit& found, bool& none, std::string& why) {
  constexpr uint64_t kFarStops = 4096;
  none = false;
  bool met = true, tried_far = false;
  for (uint64_t w = window;;) {
    Scanned count;
    uint64_t far = met ? w : now;
    if (!met) count.budget = kFarStops;
    uint64_t lo = now > far ? now - far : 0;
    std::vector<Visit> seen;
    if (!scan(lo, now, at, pick, seen, why, count)) return false;
    if (count.gave_up) {
      met = tried_far = true;
      w *= 16;
      continue;
    }
    if (!seen.empty()) {
      found = seen.back();
      return true;
    }
    if (lo == 0) {
      none = true;
      return true;
    }
    met = count.stops > 0 || tried_far;
    if (met) w = far * 16;
  }
}

Stop Engine::go_back(uint64_t to) {
  std::string why;
  replaying_ = true;
  bool ok = restore(to, why) && rerun(to, {}, {}, nullptr, why);
  replaying_ = false;
  if (!ok) {
    running_ = history_ = false;
    why_ = "Cannot go back: " + why + ".";
    return Stop::error;
  }
  // What was set by hand later is gone with the future it was set in, and
  // so are the snapshots that had it, and the moves that led there.
  set_.resize(set_at_);
  forget_moves_after(to);
  forget([this](const Snapshot& k) { return k.set_at <= set_.size(); });
  spim::Answer a;
  std::vector<uint32_t> placed;
  for (const Breakpoint& b : bps_) {
    if (!b.enabled || b.addr == saved_at_ || std::binary_search(reads_.begin(), reads_.end(), b.addr) ||
        std::find(placed.begin(), placed.end(), b.addr) != placed.end())
      continue;
    placed.push_back(b.addr);
    command("breakpoint " + hex(b.addr), a);
  }
  last_step_.clear();
  clear_interrupt();
  return running_ ? Stop::line : Stop::exited;
}

Stop Engine::to_first_line(uint64_t now) {
  history_start_ = true;
  std::vector<Visit> seen;
  std::string why;
  std::vector<uint32_t> lines = line_starts();
  Scanned count;
  if (!scan(0, std::min<uint64_t>(now, 4096), lines, [](Visit&) { return true; }, seen, why, count))
    return back_out(now, why);
  return go_back(seen.empty() ? now : seen.front().at);
}

Stop Engine::back_out(uint64_t now, const std::string& why) {
  go_back(now);
  why_ = "Cannot go back: " + why + ".";
  return Stop::error;
}

Stop Engine::reverse_step() {
  uint64_t now = 0;
  if (!can_go_back(now)) return Stop::error;
  // Here by a step, or a next that ran no call: back to where it began.
  if (!moves_.empty() && moves_.back().to == now && !moves_.back().over_call) return go_back(moves_.back().from);
  Visit v;
  bool none = false;
  std::string why;
  if (!find_back(now, 1024, line_starts(), [](Visit&) { return true; }, v, none, why)) return back_out(now, why);
  return none ? to_first_line(now) : go_back(v.at);
}

// The call that entered the procedure of `entry`'s frame: the last time
// before `now` that its entry line began with the caller's frame pointer
// `caller` and return address `ra`, and the line that ran before it.
bool Engine::call_of(uint64_t now, int32_t entry, uint32_t caller, uint32_t ra, Visit& found, bool& none,
                     std::string& why) {
  Visit in;
  Pick same = [&](Visit&) {
    uint32_t fp = 0, r = 0;
    return reg(30, fp) && reg(31, r) && fp == caller && r == ra;
  };
  if (!find_back(now, 65536, {piece_addr_[entry]}, same, in, none, why)) return false;
  if (none) return true;
  return find_back(in.at, 1024, line_starts(), [](Visit&) { return true; }, found, none, why);
}

Stop Engine::reverse_next() {
  uint64_t now = 0;
  if (!can_go_back(now)) return Stop::error;
  int32_t entry = inspectable() ? entry_of(piece_) : -1;
  uint32_t fp = 0, caller = 0, ra = 0;
  bool framed = entry >= 0 && !is_entry(piece_) && reg(30, fp) && word(fp, caller) && word(fp + 4, ra);
  // Outside a procedure, at its entry line or after the end: a line back.
  if (!framed) return reverse_step();
  // Here by a next in this frame: back to where it began (the line before
  // in this frame, whatever calls it made).
  if (!moves_.empty() && moves_.back().to == now && moves_.back().fp_from == fp && moves_.back().fp_to == fp)
    return go_back(moves_.back().from);
  // The lines of this procedure in this frame, and its entry: stops
  // elsewhere (the calls it made) are not looked at.
  std::size_t end = t_.pieces.size();
  for (const auto& [idx, name] : t_.entries)
    if (static_cast<int32_t>(idx) > entry) end = std::min<std::size_t>(end, idx);
  std::vector<uint32_t> at;
  for (std::size_t p = static_cast<std::size_t>(entry); p < end; p++)
    if (piece_addr_[p]) at.push_back(piece_addr_[p]);
  std::sort(at.begin(), at.end());
  uint32_t entry_at = piece_addr_[entry];
  Pick ours = [&](Visit& v) {
    uint32_t f = 0, r = 0;
    if (v.pc != entry_at) return reg(30, f) && f == fp;
    v.hit = true;  // the frame's beginning
    return reg(30, f) && reg(31, r) && f == caller && r == ra;
  };
  Visit v;
  bool none = false;
  std::string why;
  if (!find_back(now, 1024, at, ours, v, none, why)) return back_out(now, why);
  if (!none && v.hit) {
    // The first line of this call: back to the line that made it.
    if (!find_back(v.at, 1024, line_starts(), [](Visit&) { return true; }, v, none, why)) return back_out(now, why);
  }
  return none ? to_first_line(now) : go_back(v.at);
}

Stop Engine::reverse_finish() {
  uint64_t now = 0;
  if (!can_go_back(now)) return Stop::error;
  if (!inspectable()) {
    why_ = "The program is not being run.";
    return Stop::error;
  }
  if (backtrace(2).size() < 2) {
    why_ = "\"reverse-finish\" not meaningful in the outermost frame.";
    return Stop::error;
  }
  int32_t entry = entry_of(piece_);
  uint32_t fp = 0, caller = 0, ra = 0;
  if (is_entry(piece_)) {
    // The frame is not built yet: the caller's are the registers'.
    if (!reg(30, caller) || !reg(31, ra)) return Stop::died;
  } else if (entry < 0 || !reg(30, fp) || !word(fp, caller) || !word(fp + 4, ra)) {
    why_ = "The frame cannot be read.";
    return Stop::error;
  }
  Visit v;
  bool none = false;
  std::string why;
  if (is_entry(piece_) && pc_ == piece_addr_[piece_]) {
    if (!find_back(now, 1024, line_starts(), [](Visit&) { return true; }, v, none, why)) return back_out(now, why);
  } else if (!call_of(now, entry, caller, ra, v, none, why)) {
    return back_out(now, why);
  }
  return none ? to_first_line(now) : go_back(v.at);
}

Stop Engine::reverse_continue(const std::function<std::string()>& watched) {
  uint64_t now = 0;
  if (!can_go_back(now)) return Stop::error;
  std::vector<uint32_t> lines = line_starts(), at;
  for (const Breakpoint& b : bps_)
    if (b.enabled) at.push_back(b.addr);
  if (watched) at.insert(at.end(), lines.begin(), lines.end());
  std::sort(at.begin(), at.end());
  at.erase(std::unique(at.begin(), at.end()), at.end());
  // A breakpoint stops where its condition holds (its hits and ignore
  // counts belong to the way forward); a watched line records its values.
  Pick pick = [&](Visit& v) {
    for (const Breakpoint& b : bps_)
      if (b.addr == v.pc && b.enabled && (b.condition.empty() || !check_ || check_(b))) {
        v.hit = true;
      }
    bool line = watched && std::binary_search(lines.begin(), lines.end(), v.pc);
    if (line) v.values = watched();
    v.line = line;
    return v.hit || line;
  };
  std::string why;
  // The windows grow as find_back's do.
  bool met = true, tried_far = false;
  for (uint64_t w = 65536;;) {
    Scanned count;
    uint64_t far = met ? w : now;
    if (!met) count.budget = 4096;
    uint64_t lo = now > far ? now - far : 0;
    std::vector<Visit> seen;
    if (!scan(lo, now, at, pick, seen, why, count)) return back_out(now, why);
    if (count.gave_up) {
      met = tried_far = true;
      w *= 16;
      continue;
    }
    // The last hit, or the last line whose values differ from the line's before.
    const Visit* last_line = nullptr;
    const Visit* found = nullptr;
    for (const Visit& v : seen) {
      if (v.hit || (v.line && last_line && v.values != last_line->values)) found = &v;
      if (v.line) last_line = &v;
    }
    if (found) {
      int number = 0;
      for (const Breakpoint& b : bps_)
        if (found->hit && !number && b.addr == found->pc && b.enabled) number = b.number;
      Stop s = go_back(found->at);
      if (s != Stop::line || !found->hit) return s;
      // The breakpoint's report, as on the way forward (its condition held there).
      hit_ = number;
      hit_temporary_ = false;
      for (const Breakpoint& b : bps_)
        if (b.number == number) hit_temporary_ = b.temporary;
      return Stop::breakpoint;
    }
    if (lo == 0) return to_first_line(now);
    met = count.stops > 0 || tried_far;
    if (met) w = far * 16;
  }
}

}  // namespace qv::engine
