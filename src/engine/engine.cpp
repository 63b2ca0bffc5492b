#include "engine/engine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "spim/trap.h"

namespace qv::engine {

namespace {

using spim::value_after_equals;

std::string hex(uint32_t v) { return spim::hex(v); }

constexpr std::string_view kHit = "Breakpoint encountered at 0x";
// Reads at the end of input before the program is stopped: a loop that
// waits for some particular input never ends otherwise.
constexpr uint32_t kReadsAtEnd = 1000;

}  // namespace

Engine::Engine(const std::vector<run::Source>& srcs, const run::Translation& t, const MarkedAssembly& a)
    : srcs_(srcs), t_(t), a_(a) {
  if (const char* e = std::getenv("QV_SNAPSHOT_EVERY"); e && std::strtoull(e, nullptr, 10) > 0)
    snapshot_every_ = std::strtoull(e, nullptr, 10);
  search_back_ = std::getenv("QV_SEARCH_BACK") != nullptr;
}

bool Engine::command(std::string_view cmd, spim::Answer& a) { return session_.command(cmd, a); }

bool Engine::start(const spim::SessionJob& job, std::string& error) {
  job_ = job;
  if (!session_.start(job, error)) return false;
  spim::Answer a;
  if (!session_.load(a)) {
    error = "SPIM did not load the program";
    return false;
  }
  if (!a.err.empty()) {
    error = "SPIM cannot load the program:\n" + a.err;
    return false;
  }
  if (!command("print_symbols", a)) {
    error = "SPIM did not list the program's labels";
    return false;
  }
  // "g\t__qv12 at 0x00400128", one a line, in no order.
  table_.assign(a_.label_line.size(), 0);
  std::size_t at = 0;
  while (at < a.out.size()) {
    std::size_t nl = a.out.find('\n', at);
    if (nl == std::string::npos) nl = a.out.size();
    std::string_view l(a.out.data() + at, nl - at);
    at = nl + 1;
    std::size_t q = l.find("\t__qv");
    std::size_t on = l.find(" at 0x");
    if (on == std::string_view::npos) continue;
    if (q == std::string_view::npos) {
      // The program's own labels: "g\tmain at 0x00400024".
      std::size_t tab = l.find('\t');
      if (tab != std::string_view::npos && tab < on)
        symbols_.emplace(static_cast<uint32_t>(std::strtoul(std::string(l.substr(on + 4)).c_str(), nullptr, 16)),
                         std::string(l.substr(tab + 1, on - tab - 1)));
      continue;
    }
    std::string_view num = l.substr(q + 5, on - q - 5);
    if (num == "_saved") saved_at_ = static_cast<uint32_t>(std::strtoul(std::string(l.substr(on + 4)).c_str(), nullptr, 16));
    if (num.empty() || num.find_first_not_of("0123456789") != std::string_view::npos) continue;
    std::size_t k = std::strtoul(std::string(num).c_str(), nullptr, 10);
    if (k < table_.size()) table_[k] = static_cast<uint32_t>(std::strtoul(std::string(l.substr(on + 4)).c_str(), nullptr, 16));
  }
  piece_addr_.assign(t_.pieces.size(), 0);
  for (std::size_t k = 0; k < table_.size(); k++) {
    if (!table_[k]) {
      error = "SPIM did not list the label __qv" + std::to_string(k);
      return false;
    }
    int32_t p = t_.piece_at(a_.plain_starts[a_.label_line[k]]);
    if (p < 0) continue;  // the program's frame: no line of its own
    if (!piece_addr_[p]) {
      piece_addr_[p] = table_[k];
      starts_[table_[k]] = p;
    }
    std::string_view op = t_.pieces[p].opcode();
    if ((op == "gint" || op == "gflt" || op == "gstr" || op == "gbln" || op == "gchr") &&
        spim::mnemonic(a_.plain_line(t_.plain, a_.label_line[k])) == "syscall")
      reads_.push_back(table_[k]);
  }
  place_breakpoints();
  return true;
}

void Engine::place_breakpoints() {
  spim::Answer a;
  // In the exception handler, once it has saved what the exception set:
  // the program's registers are read there before the handler ends the run.
  if (saved_at_) command("breakpoint " + hex(saved_at_), a);
  std::vector<uint32_t> placed = reads_;
  for (uint32_t addr : reads_) command("breakpoint " + hex(addr), a);
  for (const Breakpoint& b : bps_) {
    if (!b.enabled || std::find(placed.begin(), placed.end(), b.addr) != placed.end()) continue;
    placed.push_back(b.addr);
    command("breakpoint " + hex(b.addr), a);
  }
}

Engine::Got Engine::feed(std::string& bytes) {
  bytes.clear();
  uint32_t service = 0, size = 0;
  if (!reg(2, service)) return Got::end;
  std::size_t want;
  if (service == 5 || service == 6) {
    want = 255;  // a line
  } else if (service == 8) {
    if (!reg(5, size)) return Got::end;
    if (size < 2) return Got::bytes;  // reads nothing
    want = size - 1;
  } else if (service == 12) {
    want = 1;
  } else {
    return Got::bytes;  // not a read
  }
  // Going back repeats the run: its reads take the bytes they took before,
  // and so do the reads after going forward again.
  if (given_at_ < given_.size()) {
    bytes = given_[given_at_++];
    return Got::bytes;
  }
  if (replaying_) return Got::end;
  // The next line of input, or as much of it as the service takes.
  while (!input_done_ && pending_.find('\n') == std::string::npos && pending_.size() < want) {
    Got g = input_ ? input_(pending_) : Got::end;
    if (g == Got::interrupted) return g;
    if (g == Got::end) input_done_ = true;
  }
  if (input_done_ && pending_.empty() && ++reads_at_end_ > kReadsAtEnd) return Got::end;
  std::size_t nl = pending_.find('\n');
  std::size_t take = std::min(want, nl == std::string::npos ? pending_.size() : nl + 1);
  bytes = pending_.substr(0, take);
  pending_.erase(0, take);
  // A line the terminal holds back until its end: Ctrl-D hands over what
  // has no line break, and alone it is the end of input.
  if (bytes.empty() || bytes.back() != '\n') bytes.push_back('\x04');
  given_.push_back(bytes);
  given_at_ = given_.size();
  return Got::bytes;
}

int32_t Engine::piece_of(uint32_t addr) const {
  spim::AddressMap m(a_, t_.plain, table_);
  int32_t line = m.line_of(addr);
  return line < 0 ? -1 : t_.piece_at(a_.plain_starts[line]);
}

int32_t Engine::resolve(std::string_view place, bool& moved, std::string& error) const {
  moved = false;
  uint32_t file = piece_ >= 0 ? t_.pieces[piece_].file : 0;
  uint32_t line = 0;
  auto number = [](std::string_view s, uint32_t& v) {
    if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string_view::npos) return false;
    v = static_cast<uint32_t>(std::strtoul(std::string(s).c_str(), nullptr, 10));
    return true;
  };
  std::size_t colon = place.rfind(':');
  if (number(place, line)) {
  } else if (colon != std::string_view::npos && number(place.substr(colon + 1), line)) {
    std::string_view name = place.substr(0, colon);
    bool found = false;
    for (uint32_t f = 0; f < srcs_.size() && !found; f++) {
      std::string_view n = srcs_[f].name;
      std::size_t slash = n.rfind('/');
      if (n == name || (slash != std::string_view::npos && n.substr(slash + 1) == name)) {
        file = f;
        found = true;
      }
    }
    if (!found) {
      error = "no file '" + std::string(name) + "' in the program";
      return -1;
    }
  } else {
    // A procedure's label, or a label that begins a line.
    // A procedure stops at its first line after the entry code, where its
    // record is built.
    for (const auto& [idx, name] : t_.entries)
      if (name == place) {
        for (std::size_t p = idx + 1; p < t_.pieces.size(); p++)
          if (piece_addr_[p]) return static_cast<int32_t>(p);
        return -1;
      }
    run::Fields fields;
    for (const run::Piece& pc : t_.pieces) {
      fields.read(run::piece_text(srcs_, pc));
      if (fields.label() == place) {
        file = pc.file;
        line = pc.line;
        break;
      }
    }
    if (!line) {
      error = "no label '" + std::string(place) + "' in the program";
      return -1;
    }
  }
  for (std::size_t p = 0; p < t_.pieces.size(); p++) {
    const run::Piece& pc = t_.pieces[p];
    if (pc.file != file || pc.line < line || !piece_addr_[p]) continue;
    moved = pc.line != line;
    return static_cast<int32_t>(p);
  }
  error = "no code at or after line " + std::to_string(line) + " of " + srcs_[file].name;
  return -1;
}

const Breakpoint* Engine::add_breakpoint(int32_t piece, bool temporary, std::string& error) {
  Breakpoint b;
  b.number = next_number_++;
  b.piece = piece;
  b.addr = piece_addr_[piece];
  b.temporary = temporary;
  bool placed = wanted(b.addr);
  spim::Answer a;
  if (!placed && (!command("breakpoint " + hex(b.addr), a) || !a.err.empty())) {
    error = "SPIM refused a breakpoint at " + hex(b.addr) + (a.err.empty() ? "" : ": " + a.err);
    return nullptr;
  }
  bps_.push_back(b);
  return &bps_.back();
}

bool Engine::wanted(uint32_t addr) const {
  return std::binary_search(reads_.begin(), reads_.end(), addr) ||
         std::any_of(bps_.begin(), bps_.end(), [&](const Breakpoint& b) { return b.addr == addr && b.enabled; });
}

std::vector<Breakpoint>::iterator Engine::find_breakpoint(int number) {
  return std::find_if(bps_.begin(), bps_.end(), [&](const Breakpoint& b) { return b.number == number; });
}

bool Engine::delete_breakpoint(int number) {
  auto it = find_breakpoint(number);
  if (it == bps_.end()) return false;
  uint32_t addr = it->addr;
  bool was = wanted(addr);
  bps_.erase(it);
  if (was && !wanted(addr)) {
    spim::Answer a;
    command("delete " + hex(addr), a);
  }
  return true;
}

bool Engine::enable_breakpoint(int number, bool on) {
  auto it = find_breakpoint(number);
  if (it == bps_.end()) return false;
  uint32_t addr = it->addr;
  bool was = wanted(addr);
  it->enabled = on;
  spim::Answer a;
  if (was && !wanted(addr)) command("delete " + hex(addr), a);
  if (!was && wanted(addr)) command("breakpoint " + hex(addr), a);
  return true;
}

bool Engine::set_condition(int number, std::string condition) {
  auto it = find_breakpoint(number);
  if (it == bps_.end()) return false;
  it->condition = std::move(condition);
  return true;
}

bool Engine::set_ignore(int number, uint32_t count) {
  auto it = find_breakpoint(number);
  if (it == bps_.end()) return false;
  it->ignore = count;
  return true;
}

void Engine::set_output(std::function<void(std::string_view)> sink) {
  sink_ = std::move(sink);
  if (sink_)
    session_.set_sink([this](std::string_view s) { printed(s); });
  else
    session_.set_sink(nullptr);
}

void Engine::printed(std::string_view s) {
  uint64_t from = made_;
  made_ += s.size();
  if (made_ <= shown_) return;  // shown before the program was run back
  if (from < shown_) s.remove_prefix(static_cast<std::size_t>(shown_ - from));
  shown_ = made_;
  if (sink_)
    sink_(s);
  else
    output_ += s;
}

std::string Engine::take_output() {
  std::string o;
  o.swap(output_);
  return o;
}

bool Engine::reg(int n, uint32_t& v) {
  if (!running_ && post_mortem_) {
    // The handler has ended the run: the registers as the exception left them.
    if (n < 0 || n > 31) return false;
    v = kept_[static_cast<std::size_t>(n)];
    return true;
  }
  spim::Answer a;
  return command("print $" + std::to_string(n), a) && value_after_equals(a.out, v);
}

bool Engine::all_registers(std::array<uint32_t, 32>& regs) {
  // "R9  (t1) = 0000002a  R17 (s1) = ...": every general register in one answer.
  spim::Answer a;
  if (!command("print_all_regs hex", a)) return false;
  for (int n = 0; n < 32; n++) {
    char name[8];
    std::snprintf(name, sizeof name, "R%-3d(", n);
    std::size_t at = a.out.find(name);
    if (at == std::string::npos) return false;
    std::size_t eq = a.out.find(") = ", at);
    if (eq == std::string::npos) return false;
    regs[static_cast<std::size_t>(n)] = static_cast<uint32_t>(std::strtoul(a.out.c_str() + eq + 4, nullptr, 16));
  }
  return true;
}

const std::string* Engine::symbol_at(uint32_t addr, uint32_t& offset) const {
  auto it = symbols_.upper_bound(addr);
  if (it == symbols_.begin()) return nullptr;
  --it;
  offset = addr - it->first;
  return &it->second;
}

bool Engine::symbol_addr(std::string_view name, uint32_t& addr) const {
  for (const auto& [at, n] : symbols_)
    if (n == name) {
      addr = at;
      return true;
    }
  return false;
}

bool Engine::freg(int n, uint32_t& bits) {
  // "print $fN" shows only %g; the exact bits are in the single-precision
  // table of "print_all_regs hex": "FP4 =40200000 FP12=00000000 ...".
  spim::Answer a;
  if (n < 0 || n > 31 || !command("print_all_regs hex", a)) return false;
  std::size_t single = a.out.find("Single Floating Point Registers");
  if (single == std::string::npos) return false;
  char name[8];
  int len = std::snprintf(name, sizeof name, "FP%-2d=", n);
  std::size_t at = a.out.find(name, single);
  if (at == std::string::npos) return false;
  bits = static_cast<uint32_t>(std::strtoul(a.out.c_str() + at + static_cast<std::size_t>(len), nullptr, 16));
  return true;
}

bool Engine::word(uint32_t addr, uint32_t& v) {
  spim::Answer a;
  if (!command("print " + hex(addr), a) || !a.err.empty()) return false;
  // An instruction comes as SPIM steps it: "[0x00400148]\t0x15400002  bne ...".
  if (a.out.compare(0, 3, "[0x") == 0) {
    std::size_t w = a.out.find("]\t0x");
    if (w == std::string::npos) return false;
    v = static_cast<uint32_t>(std::strtoul(a.out.c_str() + w + 4, nullptr, 16));
    return true;
  }
  return value_after_equals(a.out, v);
}

bool Engine::refresh_pc() {
  spim::Answer a;
  if (!command("print $pc", a) || !value_after_equals(a.out, pc_)) return false;
  auto it = starts_.find(pc_);
  piece_ = it != starts_.end() ? it->second : piece_of(pc_);
  return true;
}

Stop Engine::run() {
  forget();  // a new run: none of the last one's instants
  moves_.clear();
  if (!session_.alive()) {
    // SPIM died (a data word executed): a new one, with the breakpoints again.
    std::string error;
    spim::Answer a;
    if (!session_.restart(error)) return Stop::died;
    if (on_spawn_) on_spawn_(session_.pid());
    if (!session_.load(a)) return Stop::died;
    place_breakpoints();
  } else if (running_ || !output_.empty() || fault_.have_record) {
    // A second run starts from a fresh machine, with the breakpoints again.
    spim::Answer a;
    if (!command("reinitialize", a) || !session_.load(a)) return Stop::died;
    place_breakpoints();
  }
  if (spim::InstructionCounter* c = session_.counter()) c->reset();
  own_ = 0;
  limit_stops_ = session_.counter() ? session_.counter()->stops() : 0;
  fault_ = spim::SpimRun{};
  post_mortem_ = kept_valid_ = false;
  session_.control().clear();
  pending_.clear();
  input_done_ = false;
  reads_at_end_ = 0;
  pc_ = 0;
  running_ = true;
  given_.clear();
  given_at_ = 0;
  set_.clear();
  made_ = shown_ = 0;
  history_ = session_.counter() != nullptr;
  if (!session_.go()) return Stop::died;
  return resume("run");
}

bool Engine::kill() {
  forget();
  moves_.clear();
  spim::Answer a;
  if (!session_.alive() || !command("reinitialize", a) || !session_.load(a)) return false;
  place_breakpoints();
  running_ = post_mortem_ = kept_valid_ = history_ = false;
  fault_ = spim::SpimRun{};
  output_.clear();
  pc_ = 0;
  piece_ = -1;
  return true;
}

Stop Engine::cont() { return resume("continue"); }

bool Engine::instructions(uint64_t& n) {
  spim::InstructionCounter* c = session_.counter();
  if (!c || !c->available()) return false;
  uint64_t all = c->count(), skip = spim::kStartupInstructions + own_;
  n = all > skip ? all - skip : 0;
  return true;
}

void Engine::arm_limit() {
  if (spim::InstructionCounter* c = session_.counter())
    c->set_limit(limit_ ? limit_ + spim::kStartupInstructions + own_ : 0, spim::kInterrupt);
}

bool Engine::limit_stopped() {
  spim::InstructionCounter* c = session_.counter();
  if (!c) return false;
  uint32_t stops = c->stops();
  bool stopped = stops != limit_stops_;
  limit_stops_ = stops;
  return stopped;
}

Stop Engine::resume(std::string_view cmd) {
  int peek = cmd == "continue" ? peek_ : -1;
  peek_ = -1;
  for (;;) {
    peek_ok_ = false;
    // (A run has handed SPIM its go-ahead already: it goes on.)
    if (cmd != "run" && take_interrupt()) return Stop::interrupted;
    bool at_read = std::binary_search(reads_.begin(), reads_.end(), pc_) && running_ && cmd != "run";
    std::string input;
    if (at_read) {
      Got g = feed(input);
      if (g == Got::end) return Stop::input_end;
      if (g == Got::interrupted) return Stop::interrupted;
    }
    spim::Answer a, b;
    arm_limit();
    // The register read goes behind the continue only where nothing but
    // SPIM can write before the stop: a line that writes a register prints
    // nothing (the console's output opcodes write none), and never at a read,
    // whose syscall would take the command as the program's input.
    std::string then;
    if (peek >= 0 && input.empty() && !at_read) then = "print $" + std::to_string(peek);
    if (!session_.command(cmd, input, a, true, then, b)) {
      running_ = false;
      return Stop::died;
    }
    if (!then.empty()) {
      // Read where this command stopped: it counts only if resume ends here.
      peek_reg_ = peek;
      peek_ok_ = b.err.empty() && b.out.find("interrupted") == std::string::npos && value_after_equals(b.out, peek_value_);
      peek = -1;
    }
    Stop s = after_stop(a, false);
    // Stopped only to hand over input, or at a breakpoint whose condition
    // does not hold: go on.
    if (s == Stop::line && saved_at_ && pc_ == saved_at_) {
      kept_valid_ = all_registers(kept_);
      cmd = "continue";
      continue;
    }
    if (s != Stop::line || (target_ && pc_ == target_)) return s;
    bool read = std::binary_search(reads_.begin(), reads_.end(), pc_);
    if (!at_breakpoint() && !read) return s;
    cmd = "continue";
  }
}

Stop Engine::after_stop(const spim::Answer& a, bool stepping) {
  std::string out = a.out;
  bool hit = false;
  unsigned long hit_at = 0;  // where SPIM says the breakpoint is: the pc
  if (stepping) {
    // "[0x00400024]\t0x...  lw ... ; 12: ..." comes first, then what the
    // instruction printed.
    if (out.compare(0, 3, "[0x") == 0) {
      std::size_t nl = out.find('\n');
      last_step_ = out.substr(0, nl);
      out.erase(0, nl == std::string::npos ? out.size() : nl + 1);
    }
  } else {
    std::size_t h = out.rfind(kHit);
    if (h != std::string::npos) {
      hit = true;
      hit_at = std::strtoul(out.c_str() + h + kHit.size(), nullptr, 16);
      out.erase(h);
      // SPIM counted the breakpoint's own instruction, which did not run.
      own_++;
    }
  }
  constexpr std::string_view kStopped = "\nExecution interrupted\n";
  bool interrupted = out.size() >= kStopped.size() && out.compare(out.size() - kStopped.size(), kStopped.size(), kStopped) == 0;
  if (interrupted) out.resize(out.size() - kStopped.size());
  if (replaying_)
    made_ += a.out_bytes - (a.out.size() - out.size());
  else
    printed(out);
  // The trap handler's report: "R" from the start-up code, then the record.
  std::string& c = session_.control();
  bool complete = false;
  if (c.size() > 1 &&
      spim::read_report(std::string_view(c).substr(1), a_.label_line.size(), fault_.record, fault_.table, fault_.chain,
                        complete)) {
    fault_.have_record = true;
    fault_.loaded = true;
    running_ = false;
    // Memory stays as the exception left it, and the registers were kept
    // on the way through the handler: the program can still be looked at,
    // standing at the line of the error.
    post_mortem_ = kept_valid_;
    kept_valid_ = false;
    std::vector<FrameInfo> f = backtrace(1);
    piece_ = f.empty() ? -1 : f[0].piece;
    return Stop::fault;
  }
  if (a.err.find("Can't expand stack segment") != std::string::npos) {
    // SPIM keeps the machine: the frames can still be read.
    spim_err_ = a.err;
    refresh_pc();
    return Stop::overflow;
  }
  if (!a.err.empty()) spim_err_ = a.err;
  if (hit && hit_at != 0 && !interrupted) {
    // A breakpoint names the pc: no need to ask for it.
    pc_ = static_cast<uint32_t>(hit_at);
    auto it = starts_.find(pc_);
    piece_ = it != starts_.end() ? it->second : piece_of(pc_);
  } else if (!refresh_pc()) {
    running_ = false;
    return Stop::died;
  }
  if (pc_ == 0) {
    // An exit prints nothing and leaves PC at 0: service 17 carries its
    // status in $a0, service 10 means 0.
    uint32_t v0 = 0, a0 = 0;
    status_ = reg(2, v0) && v0 == 17 && reg(4, a0) ? static_cast<int>(a0 & 255) : 0;
    running_ = false;
    return Stop::exited;
  }
  hit_ = 0;
  if (interrupted) return limit_stopped() ? Stop::limit : Stop::interrupted;
  if ((hit || !stepping) && !replaying_ && take_hit()) return Stop::breakpoint;
  return Stop::line;
}

bool Engine::step_one(Stop& s) {
  if (take_interrupt()) {
    s = Stop::interrupted;
    return false;
  }
  spim::Answer a;
  std::string input;
  if (std::binary_search(reads_.begin(), reads_.end(), pc_)) {
    Got g = feed(input);
    if (g != Got::bytes) {
      s = g == Got::end ? Stop::input_end : Stop::interrupted;
      return false;
    }
  }
  arm_limit();
  if (!session_.command("step 1", input, a)) {
    running_ = false;
    s = Stop::died;
    return false;
  }
  s = after_stop(a, true);
  // An exception: the trap handler takes over, and ends the run.
  if (s == Stop::line && pc_ >= 0x80000000u) s = resume("continue");
  return s == Stop::line || s == Stop::breakpoint;
}

Stop Engine::stepi() {
  if (!running_) return Stop::error;
  last_step_.clear();
  Stop s;
  step_one(s);
  return s;
}

bool Engine::at_breakpoint() const {
  return std::any_of(bps_.begin(), bps_.end(), [&](const Breakpoint& b) { return b.addr == pc_ && b.enabled; });
}

// Counts a hit on every enabled breakpoint here whose condition holds; the
// first of them is the one reported, and goes if it is temporary.
bool Engine::take_hit() {
  hit_ = 0;
  for (Breakpoint& b : bps_)
    if (b.addr == pc_ && b.enabled && (b.condition.empty() || !check_ || check_(b))) {
      b.hits++;
      if (b.ignore > 0) {
        b.ignore--;
        continue;
      }
      if (!hit_) {
        hit_ = b.number;
        hit_temporary_ = b.temporary;
      }
    }
  if (hit_ && hit_temporary_) delete_breakpoint(hit_);
  return hit_ != 0;
}

bool Engine::overflow_info(spim::Halt& ov, std::size_t limit) {
  ov = spim::Halt{};
  ov.pc = pc_;
  ov.table = table_;
  if (!reg(31, ov.record.ra) || !reg(30, ov.record.fp) || !reg(29, ov.record.sp)) return false;
  // The chain as the trap handler would report it: per frame the caller's
  // frame pointer and the return address, up to the start-up frame.
  uint32_t fp = ov.record.fp;
  for (std::size_t n = 0; n < limit; n++) {
    uint32_t up = 0, ra = 0;
    if ((fp & 3) || !word(fp, up) || !word(fp + 4, ra)) break;
    ov.chain.push_back(up);
    ov.chain.push_back(ra);
    if (up <= fp) break;
    fp = up;
  }
  return true;
}

void Engine::moved(bool known, uint64_t from, uint32_t fp, bool over_call) {
  Move m;
  if (search_back_ || !known || !instructions(m.to) || !reg(30, m.fp_to)) return;
  m.from = from;
  m.fp_from = fp;
  m.over_call = over_call;
  if (!moves_.empty() && moves_.back().to != from) moves_.clear();  // not a chain
  moves_.push_back(m);
}

void Engine::forget_moves_after(uint64_t at) {
  while (!moves_.empty() && moves_.back().to > at) moves_.pop_back();
}

Stop Engine::step() {
  if (!running_) return Stop::error;
  int32_t from = piece_;
  uint32_t from_pc = pc_;
  uint64_t before = 0;
  uint32_t fp = 0;
  bool known = history_ && instructions(before) && reg(30, fp);
  for (uint64_t n = 0; n < 100000000; n++) {
    Stop s;
    if (!step_one(s)) return s;
    auto it = starts_.find(pc_);
    // A procedure's entry line is stepped through: its record is built
    // at the next line.
    if (it != starts_.end() && (it->second != from || pc_ == from_pc) && !is_entry(it->second)) {
      moved(known, before, fp, false);
      return Stop::line;
    }
  }
  return Stop::line;
}

Stop Engine::next() {
  if (!running_) return Stop::error;
  int32_t from = piece_;
  uint32_t from_pc = pc_;
  uint32_t fp0 = 0;
  if (!reg(30, fp0)) return Stop::died;
  uint64_t before = 0;
  bool known = history_ && instructions(before);
  bool over_call = false;
  for (uint64_t n = 0; n < 100000000; n++) {
    Stop s;
    if (!step_one(s)) return s;
    auto it = starts_.find(pc_);
    if (it == starts_.end()) continue;
    int32_t p = it->second;
    if (is_entry(p)) {
      // Entered a procedure: run to its return, to this frame.
      uint32_t ra = 0;
      if (!reg(31, ra)) return Stop::died;
      Stop r = run_to(ra, fp0);
      if (r != Stop::line) return r;
      over_call = true;
      // Back in this frame, right after the call: perhaps at the next line.
      it = starts_.find(pc_);
      if (it == starts_.end()) continue;
      p = it->second;
    }
    if (p != from || pc_ == from_pc) {
      moved(known, before, fp0, over_call);
      return Stop::line;
    }
  }
  return Stop::line;
}

bool Engine::is_entry(int32_t p) const {
  return p >= 0 && std::find_if(t_.entries.begin(), t_.entries.end(), [&](const auto& e) {
                     return e.first == static_cast<uint32_t>(p);
                   }) != t_.entries.end();
}

Stop Engine::run_to(uint32_t addr, uint32_t fp_want) {
  spim::Answer a;
  bool own = !wanted(addr);
  if (own && (!command("breakpoint " + hex(addr), a) || !a.err.empty())) return Stop::error;
  Stop s;
  target_ = addr;
  for (;;) {
    s = resume("continue");
    if (s != Stop::line && s != Stop::breakpoint) break;
    if (pc_ != addr) break;  // a breakpoint of the user's on the way
    uint32_t fp = 0;
    if (!reg(30, fp)) {
      s = Stop::died;
      break;
    }
    // A deeper call of the same procedure returns there too.
    if (fp >= fp_want) {
      s = Stop::line;
      break;
    }
  }
  target_ = 0;
  if (own && s != Stop::died) command("delete " + hex(addr), a);
  return s;
}

Stop Engine::finish() {
  if (!running_) return Stop::error;
  uint32_t fp = 0, ra = 0, caller = 0;
  if (!reg(30, fp)) return Stop::died;
  if (is_entry(piece_)) {
    // Not entered yet: the frame is still the caller's.
    if (!reg(31, ra)) return Stop::died;
    caller = fp;
  } else if (!word(fp + 4, ra) || !word(fp, caller)) {
    return Stop::error;
  }
  return run_to(ra, caller);
}

std::vector<FrameInfo> Engine::backtrace(std::size_t limit) {
  std::vector<FrameInfo> v;
  if (!running_ && fault_.have_record) {
    // After a run-time error: the frames the trap handler reported.
    spim::AddressMap m(a_, t_.plain, fault_.table);
    spim::Record r{fault_.record[0], fault_.record[1], fault_.record[2],
                   fault_.record[3], fault_.record[4], fault_.record[5]};
    spim::Fault f = spim::decode(r, m);
    int32_t at = f.at >= 0 ? t_.piece_at(a_.plain_starts[f.at]) : -1;
    if (at < 0 && f.from >= 0) at = t_.piece_at(a_.plain_starts[f.from]);
    v.push_back({r.fp, at, procedure_of(at)});
    for (const spim::Frame& fr : spim::frames_of(r.fp, fault_.chain, m)) {
      int32_t p = fr.call >= 0 ? t_.piece_at(a_.plain_starts[fr.call]) : -1;
      if (p < 0 || std::find(t_.ends.begin(), t_.ends.end(), static_cast<uint32_t>(p)) != t_.ends.end()) break;
      if (v.size() >= limit) break;
      // The frame of the caller, standing at the call.
      v.push_back({fr.caller, p, procedure_of(p)});
    }
    return v;
  }
  if (!running_) return v;
  uint32_t fp = 0;
  if (!reg(30, fp)) return v;
  v.push_back({fp, piece_, procedure_of(piece_)});
  auto call_frame = [&](uint32_t ra, uint32_t at) {
    int32_t p = piece_of(ra - 4);
    if (p < 0 || std::find(t_.ends.begin(), t_.ends.end(), static_cast<uint32_t>(p)) != t_.ends.end()) return false;
    v.push_back({at, p, procedure_of(p)});
    return true;
  };
  if (is_entry(piece_)) {
    // Stopped at a procedure's first line: its frame is not built yet, and
    // the call that entered it is in $ra.
    uint32_t ra = 0;
    if (!reg(31, ra) || !call_frame(ra, fp)) return v;
  }
  while (v.size() < limit) {
    uint32_t ra = 0, up = 0;
    if (!word(fp + 4, ra) || !word(fp, up)) break;
    if (!call_frame(ra, up)) break;
    if (up <= fp) break;
    fp = up;
  }
  return v;
}

bool Engine::text_end(uint32_t& end) {
  // SPIM shows an assembled word as "[0x00400038]\t0x34090037  ori ..." and
  // an empty one as "[0x00400040]\t<none>"; past the segment it answers on
  // standard error.  The code is contiguous from the start of the segment.
  auto code = [&](uint32_t addr) {
    spim::Answer a;
    return command("print " + hex(addr), a) && a.err.empty() && a.out.find("<none>") == std::string::npos &&
           a.out.find("[0x") != std::string::npos;
  };
  uint32_t lo = 0x00400000;
  for (uint32_t t : table_) lo = std::max(lo, t);
  if (!code(lo)) return false;
  // Gallop to an empty word, then halve the gap.
  uint32_t step = 4, hi = lo + step;
  while (code(hi)) {
    lo = hi;
    step *= 2;
    if (step > (64u << 20)) return false;
    hi = lo + step;
  }
  while (hi - lo > 4) {
    uint32_t mid = lo + (hi - lo) / 8 * 4;
    if (code(mid))
      lo = mid;
    else
      hi = mid;
  }
  end = hi;
  return true;
}

// SPIM's `run ADDR` starts at ADDR, but first sets up the program's stack
// again: $sp, $a0, $a1 and $a2 change (the words above the first $sp are
// written again with the same arguments and environment).  So the snippet
// puts back every register as it was, but $k0, which carries the way back
// (the trap handler sets $k0 and $k1 afresh before it reads them; the
// program never uses them), and it returns with `jr` onto a breakpoint at
// the program's instruction, where SPIM stops again.  li is written as lui
// and ori so that $at is not used behind its back.  $at itself cannot be
// written (SPIM's assembler keeps it), and need not be: no template names
// it, so it is dead wherever an assembly line begins, the only places a
// value is set.
bool Engine::poke(int target, uint32_t addr, uint32_t value, std::string& error) {
  if (!running_ || pc_ == 0 || pc_ >= 0x80000000u) {
    error = "the program is not stopped at one of its lines";
    return false;
  }
  // Only the first instruction of an assembly line's expansion shows its
  // line: "[0x00400024]\t0x34090003  ori $9, $0, 3   ; 4: li $9, 3".
  spim::Answer at;
  if (!command("print " + hex(pc_), at) || at.out.find("; ") == std::string::npos) {
    error = "the program stands inside the expansion of a MIPS pseudo-instruction: stepi once more";
    return false;
  }
  if (target == 1) {
    error = "$at is the assembler's";
    return false;
  }
  std::array<uint32_t, 32> regs{};
  if (!all_registers(regs)) {
    error = "cannot read the registers";
    return false;
  }
  uint32_t start = 0;
  if (!text_end(start)) {
    error = "cannot find the end of the program's code";
    return false;
  }
  auto load = [](int r, uint32_t v) {
    return std::vector<std::string>{"lui $" + std::to_string(r) + ", " + hex(v >> 16),
                                    "ori $" + std::to_string(r) + ", $" + std::to_string(r) + ", " + hex(v & 0xffff)};
  };
  std::vector<std::string> lines;
  auto add = [&](std::vector<std::string> l) { lines.insert(lines.end(), l.begin(), l.end()); };
  if (!target) {
    add(load(26, addr));
    add(load(27, value));
    lines.push_back("sw $27, 0($26)");
  }
  for (int n = 2; n < 32; n++)
    if (n != 26) add(load(n, n == target ? value : regs[n]));
  add(load(26, pc_));
  lines.push_back("jr $26");
  spim::Answer a;
  for (const std::string& l : lines)
    if (!command(". " + l, a) || !a.err.empty()) {
      error = "SPIM did not assemble '" + l + "'" + (a.err.empty() ? "" : ": " + a.err);
      return false;
    }
  // The way back is a breakpoint where the program stands: SPIM's own list
  // says whether one is there already (a repeated run that looks back has
  // breakpoints of its own, which the engine does not keep).
  spim::Answer listed;
  if (!command("list", listed)) {
    error = "SPIM did not list its breakpoints";
    return false;
  }
  bool own = listed.out.find("Breakpoint at " + hex(pc_)) == std::string::npos;
  if (own && (!command("breakpoint " + hex(pc_), a) || !a.err.empty())) {
    error = "SPIM refused a breakpoint at " + hex(pc_);
    return false;
  }
  // The debugger's instructions are not the program's, and no limit stops them.
  spim::InstructionCounter* counter = session_.counter();
  uint64_t before = counter ? counter->count() : 0;
  if (counter) counter->set_limit(0, spim::kInterrupt);
  bool back = command("run " + hex(start), a) && a.out.find(kHit) != std::string::npos;
  if (counter) own_ += counter->count() - before;
  if (own) command("delete " + hex(pc_), a);
  uint32_t pc = 0;
  spim::Answer p;
  if (!back || !command("print $pc", p) || !value_after_equals(p.out, pc) || pc != pc_) {
    error = "the program did not come back to " + hex(pc_);
    return false;
  }
  return true;
}

bool Engine::set_reg(int n, uint32_t v, std::string& error) {
  if (n < 2 || n > 31 || n == 26) {
    error = "register $" + std::to_string(n) + " cannot be set";
    return false;
  }
  uint64_t now = 0;
  bool counted = instructions(now);
  if (!poke(n, 0, v, error)) return false;
  // A run repeated to go back sets it again here.
  if (counted) set(now, n, 0, v);
  return true;
}

bool Engine::set_word(uint32_t addr, uint32_t v, std::string& error) {
  // A store where nothing is mapped would end the program in the trap
  // handler: only a word that can be read, of data or the stack.
  uint32_t old = 0;
  if ((addr & 3) || addr >= 0x80000000u || !word(addr, old)) {
    error = "no word of data or stack at " + hex(addr);
    return false;
  }
  uint64_t now = 0;
  bool counted = instructions(now);
  if (!poke(0, addr, v, error)) return false;
  if (counted) set(now, 0, addr, v);
  return true;
}

// Going back.

}  // namespace qv::engine
