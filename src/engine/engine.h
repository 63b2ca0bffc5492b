// The debugging engine: a program run in SPIM's command mode, stopped and
// stepped at its intermediate-code lines.  Breakpoints are SPIM's own, at
// the addresses of the labels the debugger's marking puts before every
// instruction line; a line is stepped by single instructions up to the next
// line's first one, and calls are stepped over with a breakpoint at their
// return address.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "emit/marks.h"
#include "run/program.h"
#include "spim/fault.h"
#include "spim/process.h"
#include "spim/replay.h"
#include "spim/session.h"

namespace qv::engine {

// How a run, a continue or a step ended.
enum class Stop : uint8_t {
  line,        // at the start of a line (a step ended, or a breakpoint)
  breakpoint,  // at a user's breakpoint: `hit` says which
  exited,      // the program ended; `status`
  fault,       // the trap handler reported an exception; `fault_run`
  overflow,    // SPIM's stack could not grow; `spim_err`
  died,        // SPIM is gone (a data word executed, or killed)
  input_end,   // still reading at the end of input, again and again: stopped there
  interrupted, // Ctrl-C stopped it
  limit,       // the instruction limit stopped it (before the next instruction)
  error,       // SPIM did not answer as expected; `why`
};

struct Breakpoint {
  int number = 0;
  int32_t piece = -1;
  uint32_t addr = 0;
  bool temporary = false;
  bool enabled = true;
  uint32_t hits = 0;
  std::string condition;  // "EXPR OP NUMBER", empty: none
  uint32_t ignore = 0;    // hits still to pass without stopping
};

struct FrameInfo {
  uint32_t fp = 0;
  int32_t piece = -1;  // frame 0: the current line; others: the call
  std::string_view procedure;
};

class Engine {
 public:
  Engine(const std::vector<run::Source>& srcs, const run::Translation& t, const MarkedAssembly& a);

  // Starts SPIM, loads the program and learns its label addresses.
  bool start(const spim::SessionJob& job, std::string& error);

  // The piece whose code begins at or after FILE:LINE (`file` -1: any
  // file, the first that has the line), or at the label; -1 when none.
  // `moved` is set when the line had no code and a later one was taken.
  int32_t resolve(std::string_view place, bool& moved, std::string& error) const;
  const Breakpoint* add_breakpoint(int32_t piece, bool temporary, std::string& error);
  bool has_code(int32_t piece) const { return piece >= 0 && piece_addr_[piece] != 0; }
  bool delete_breakpoint(int number);
  bool enable_breakpoint(int number, bool on);
  bool set_condition(int number, std::string condition);
  // The next `count` hits of the breakpoint are passed (counted, no stop).
  bool set_ignore(int number, uint32_t count);
  // Asked at a breakpoint with a condition: stop there?
  void set_condition_check(std::function<bool(const Breakpoint&)> check) { check_ = std::move(check); }
  const std::vector<Breakpoint>& breakpoints() const { return bps_; }
  // The next breakpoint number, for a watchpoint of the front end's.
  int take_number() { return next_number_++; }

  // Where the program's input comes from: `more` appends the next bytes
  // (a line at least); `end` at the end of input, `interrupted` when Ctrl-C
  // was typed instead (the program stops at its reading line).
  enum class Got : uint8_t { bytes, end, interrupted };
  using InputSource = std::function<Got(std::string& more)>;
  void set_input(InputSource src) { input_ = std::move(src); pending_.clear(); input_done_ = false; }

  Stop run();
  // Ends the program where it stands: SPIM is reset and the program loaded
  // again, ready for the next run.  False when SPIM did not answer.
  bool kill();
  Stop cont();
  // The next cont() also reads general register $n where it stops, in the
  // same exchange with SPIM; peeked() then gives the value when it was read
  // at the stop cont() returned (not at a stop it went on from).
  void peek_after(int n) { peek_ = n; }
  bool peeked(int n, uint32_t& v) const {
    if (!peek_ok_ || n != peek_reg_) return false;
    v = peek_value_;
    return true;
  }
  Stop step();     // to the next line, into calls
  Stop next();     // to the next line of this procedure (or its caller's)
  Stop finish();   // until the current procedure returns
  Stop stepi();    // one MIPS instruction; `last_step` shows it as SPIM does
  const std::string& last_step() const { return last_step_; }
  // Whether an enabled breakpoint of the user's is where the program stands.
  bool at_breakpoint() const;
  // Counts a stop there reached by stepping as a hit of those breakpoints
  // (their conditions asked); false when none stops the program.
  bool take_hit();

  // The instructions the program has executed in this run (SPIM's start-up
  // and the debugger's own left out); false when SPIM runs without the
  // library that counts them.
  bool instructions(uint64_t& n);
  // Stops the program once it has executed `n` instructions (0: never).
  void set_instruction_limit(uint64_t n) { limit_ = n; }
  uint64_t instruction_limit() const { return limit_; }

  // Going back.  An instant of a run is the number of instructions the
  // program has executed.  The program, given the same input, runs the
  // same way every time: going back to an instant is running it again in
  // a fresh SPIM up to exactly that count, its reads handed the bytes they
  // had, values set with set_reg and set_word set again at their instants,
  // and what it printed on the way not shown a second time.  The commands
  // end at the place the forward commands would stop at; Stop::error with
  // why() when the run cannot be gone back in.
  Stop reverse_step();      // the start of the line executed before
  Stop reverse_next();      // the same in this procedure or its callers
  Stop reverse_finish();    // the start of the line that called this procedure
  // Back to the last stop at one of the user's breakpoints whose condition
  // holds, or, given `watched` (the watched values at a stop), the last line
  // whose values differ from the previous line's.
  Stop reverse_continue(const std::function<std::string()>& watched = {});
  // Whether the last reverse command found no earlier place and stopped
  // where the program starts.
  bool at_history_start() const { return history_start_; }

  bool running() const { return running_; }
  // Whether registers, memory and frames can be read: while the program
  // runs, and after a run-time error ended it.
  bool inspectable() const { return running_ || post_mortem_; }
  // SPIM's process (for forwarding Ctrl-C), -1: none.
  pid_t spim_pid() const { return session_.pid(); }
  // Ctrl-C, or a pause: a program running in SPIM is interrupted there; one
  // being stepped stops before its next step (SPIM then sits at its prompt,
  // where a signal would go astray), and one about to run is interrupted as
  // it starts.  Safe in a signal handler and from another thread.  A request
  // left over is dropped by clear_interrupt().
  void interrupt() { session_.interrupt(); }
  void clear_interrupt() { session_.take_interrupt(); }
  // Whether an interrupt waits to be taken (and takes it).
  bool take_interrupt() { return session_.take_interrupt(); }
  // Told the new process whenever SPIM is started again (after it died), so
  // that an interrupt reaches the one that runs.
  void set_on_spawn(std::function<void(pid_t)> f) { on_spawn_ = std::move(f); }
  uint32_t pc() const { return pc_; }
  int32_t piece() const { return piece_; }  // the current line's piece, -1: none
  int hit() const { return hit_; }
  bool hit_temporary() const { return hit_temporary_; }
  int status() const { return status_; }
  const std::string& why() const { return why_; }
  const spim::SpimRun& fault_run() const { return fault_; }
  const std::string& spim_err() const { return spim_err_; }
  // The program's output since the last call (printed by the front end),
  // or, with a sink, handed to it as it comes.
  std::string take_output();
  void set_output(std::function<void(std::string_view)> sink);

  bool reg(int n, uint32_t& v);
  bool word(uint32_t addr, uint32_t& v);
  // Give general register $n (2..31 but $k0) or the data or stack word at
  // `addr` a new value, at a stop of a running program.  SPIM has no
  // command for it: see poke().
  bool set_reg(int n, uint32_t v, std::string& error);
  bool set_word(uint32_t addr, uint32_t v, std::string& error);
  // The program's label at or before `addr` (nullptr: none), and how far
  // past it the address lies.
  const std::string* symbol_at(uint32_t addr, uint32_t& offset) const;
  bool symbol_addr(std::string_view name, uint32_t& addr) const;
  // Float register $fN's single-precision bits.
  bool freg(int n, uint32_t& bits);
  std::vector<FrameInfo> backtrace(std::size_t limit = 1000);
  // After a stack overflow: what the runner's report needs (the frames read
  // one word at a time, at most `limit`).
  bool overflow_info(spim::Halt& ov, std::size_t limit = 1000000);

  // The procedure's label; "(start-up)" for the code that calls the main
  // procedure (the end line's), which lies in none.
  std::string_view procedure_of(int32_t piece) const {
    std::string_view p = t_.procedure_of(piece);
    return p.empty() ? "(start-up)" : p;
  }
  // The piece of an address's line, -1: none.
  int32_t piece_of(uint32_t addr) const;

 private:
  bool command(std::string_view cmd, spim::Answer& a);
  // Hands the library the limit, in its count, before the program runs on.
  void arm_limit();
  // Whether the limit stopped SPIM since the last call.
  bool limit_stopped();
  Stop resume(std::string_view cmd);
  Stop after_stop(const spim::Answer& a, bool stepping);
  bool refresh_pc();
  bool step_one(Stop& s);
  bool is_entry(int32_t piece) const;
  // SPIM's breakpoints: the user's, and one at every syscall of a line
  // that reads, where the input is handed over.
  void place_breakpoints();
  // At a reading syscall: the bytes the service will read, exactly (sent
  // right behind the command that runs it).
  Got feed(std::string& bytes);
  // Continues until `addr` is reached with the frame pointer at `fp_want`
  // or above (a deeper call returning there does not count).
  Stop run_to(uint32_t addr, uint32_t fp_want);
  // Runs a few instructions of the debugger's own at a stop: assembled after
  // the program's code (SPIM's `.` command), they store `value` into
  // register `reg` (0: none) or the word at `addr`, put back every other
  // register and jump back to where the program stands.
  bool poke(int reg, uint32_t addr, uint32_t value, std::string& error);
  // The first address after the assembled code.
  bool text_end(uint32_t& end);

  // A checkpoint of the session's, parked at instant `at` of a repeated run
  // that stopped there with only its own breakpoints, and what this engine
  // knew of the run there.
  struct Snapshot {
    uint64_t at = 0;
    int number = -1;
    unsigned generation = 0;
    uint64_t own = 0, made = 0;
    std::size_t given_at = 0, set_at = 0;
    uint32_t pc = 0;
    int32_t piece = -1;
    bool begun = false, running = false, kept_valid = false;
    std::array<uint32_t, 32> kept{};
    std::string control;
  };
  std::vector<Snapshot> snapshots_;  // by instant
  // A run repeated with only its own stops parks a copy of SPIM every so
  // many instructions, at least (a copy slows SPIM a little: its pages are
  // copied as it writes them).  QV_SNAPSHOT_EVERY sets it, for tests.
  uint64_t snapshot_every_ = uint64_t{1} << 20;
  // Parks the SPIM of a repeated run standing at instant `at`.
  void snapshot(uint64_t at);
  // A SPIM at the latest instant at or before `to` that a snapshot or a
  // fresh start gives, the engine as it was there.
  bool restore(uint64_t to, std::string& why);
  // Drops the snapshots that `keep` refuses, and all once none is kept.
  void forget(const std::function<bool(const Snapshot&)>& keep = {});

  // One stop of a repeated run at an address asked for.
  struct Visit {
    uint64_t at = 0;       // the instant
    uint32_t pc = 0;
    std::string values;    // the watched values there
    bool hit = false;      // a breakpoint of the user's that would stop here
    bool line = false;     // a line start whose values were recorded
  };
  // Which stops of a repeated run are recorded, asked at each.
  using Pick = std::function<bool(Visit&)>;
  // The output the program prints at this point of the run: shown unless
  // an earlier pass through the same instants showed it.
  void printed(std::string_view s);
  // A fresh SPIM with the program loaded and started, the input given so
  // far handed out again from its start.
  bool fresh(std::string& why);
  // How a scan went: the stops at its addresses, and whether it gave up
  // (more stops than its budget) before its end.
  struct Scanned {
    uint64_t stops = 0;
    uint64_t budget = 0;  // 0: none
    bool gave_up = false;
  };
  // Runs the repeated program on to instant `to`, setting the values set
  // before; SPIM also stops at `at` (ascending), and the stops there that
  // `pick` takes are recorded in `seen`.  True at `to`, or at the program's
  // end when `to` is past it, or when `count` gave up.
  bool rerun(uint64_t to, const std::vector<uint32_t>& at, const Pick& pick, std::vector<Visit>* seen,
             std::string& why, Scanned* count = nullptr);
  // Records the stop at instant `now` in `seen` when `pick` takes it; false
  // when `count` gives up.
  bool visit(uint64_t now, const Pick& pick, std::vector<Visit>& seen, Scanned* count);
  // The stops at `at` in [lo, hi) that `pick` takes.
  bool scan(uint64_t lo, uint64_t hi, const std::vector<uint32_t>& at, const Pick& pick, std::vector<Visit>& seen,
            std::string& why, Scanned& count);
  // The last visit before `now` that `pick` takes, the window searched
  // growing back from `now` (`window` instructions first); `none` when
  // there is none since the start.
  bool find_back(uint64_t now, uint64_t window, const std::vector<uint32_t>& at, const Pick& pick, Visit& found,
                 bool& none, std::string& why);
  // A search that failed leaves SPIM anywhere: the program is put back
  // at `now`, and the command refused with `why`.
  Stop back_out(uint64_t now, const std::string& why);
  // The entry piece of the procedure `piece` lies in, -1: none.
  int32_t entry_of(int32_t piece) const { return t_.entry_of(piece); }
  bool call_of(uint64_t now, int32_t entry, uint32_t caller, uint32_t ra, Visit& found, bool& none,
               std::string& why);
  // Where a reverse command ends when it finds no earlier place: the first
  // line the run began.
  Stop to_first_line(uint64_t now);
  // Ends a reverse command at instant `to`.
  Stop go_back(uint64_t to);
  // Whether the run can be gone back in; `now` its current instant.
  bool can_go_back(uint64_t& now);
  // Every line start but the procedures' entry lines, ascending.
  std::vector<uint32_t> line_starts() const;

  const std::vector<run::Source>& srcs_;
  const run::Translation& t_;
  const MarkedAssembly& a_;
  spim::SessionJob job_;
  spim::SpimSession session_;
  std::vector<uint32_t> table_;               // label addresses, in label order
  std::vector<uint32_t> piece_addr_;          // per piece: its first instruction, 0: no code
  std::map<uint32_t, int32_t> starts_;        // line-start address -> piece
  std::map<uint32_t, std::string> symbols_;  // the program's global labels by address
  std::vector<uint32_t> reads_;               // syscalls of the reading lines, ascending
  InputSource input_;
  std::string pending_;                       // input read and not yet handed over
  bool input_done_ = false;
  uint32_t reads_at_end_ = 0;
  std::vector<Breakpoint> bps_;
  int next_number_ = 1;
  bool running_ = false;
  uint32_t pc_ = 0;
  int32_t piece_ = -1;
  int hit_ = 0;
  bool hit_temporary_ = false;
  int status_ = 0;
  std::string why_, spim_err_, output_, last_step_;
  std::function<void(std::string_view)> sink_;
  std::function<bool(const Breakpoint&)> check_;
  std::function<void(pid_t)> on_spawn_;
  uint32_t target_ = 0;  // where run_to is going, 0: nowhere
  // The exception handler's stop (0: none), and the registers read there.
  uint32_t saved_at_ = 0;
  std::array<uint32_t, 32> kept_{};
  bool kept_valid_ = false;
  bool post_mortem_ = false;  // the run ended in a run-time error; kept_ holds its registers
  // Every general register, read in one answer.
  bool all_registers(std::array<uint32_t, 32>& regs);
  std::vector<Breakpoint>::iterator find_breakpoint(int number);
  // Whether SPIM should hold a breakpoint at `addr` (an enabled one of the
  // user's, or a reading syscall).
  bool wanted(uint32_t addr) const;
  spim::SpimRun fault_;
  int peek_ = -1;             // the register the next cont() reads, -1: none
  int peek_reg_ = -1;
  uint32_t peek_value_ = 0;
  bool peek_ok_ = false;
  uint64_t limit_ = 0;        // the program's instructions, 0: none
  uint64_t own_ = 0;          // counted instructions not the program's (breakpoint stops, pokes)
  uint32_t limit_stops_ = 0;  // the library's stops at the limit, seen
  // This run's history: the bytes every read was handed, in order (those
  // past `given_at_` are handed out again before new input is asked for),
  // and the values set by hand, at their instants.
  std::vector<std::string> given_;
  std::size_t given_at_ = 0;
  struct SetByHand {
    uint64_t at;
    int reg;
    uint32_t addr, value;
  };
  std::vector<SetByHand> set_;
  // The steps and nexts that led to this instant, each from one instant to
  // the next: going back over the last of them needs no search (a next over
  // a deep recursion would otherwise be searched stop by stop).
  struct Move {
    uint64_t from = 0, to = 0;
    uint32_t fp_from = 0, fp_to = 0;
    bool over_call = false;  // a next that ran a call
  };
  std::vector<Move> moves_;
  bool search_back_ = false;  // no moves kept: every step back searches (QV_SEARCH_BACK, for tests)
  // Records a move that ended here, begun at `from` with frame pointer `fp`.
  void moved(bool known, uint64_t from, uint32_t fp, bool over_call);
  // Forgets the moves that end after instant `at` (a new future).
  void forget_moves_after(uint64_t at);
  // Records a value set by hand at instant `at`.
  void set(uint64_t at, int reg, uint32_t addr, uint32_t value);
  std::size_t set_at_ = 0;      // the next of them a repeated run sets
  bool begun_ = false;          // a repeated run has been given `run`
  bool history_ = false;        // the run so far can be repeated
  bool replaying_ = false;      // a repeated run: no output, no breakpoint hits
  bool history_start_ = false;
  uint64_t made_ = 0;           // bytes the program printed up to this instant
  uint64_t shown_ = 0;          // bytes of its output shown in this run
};

}  // namespace qv::engine
