// SPIM's command mode: one SPIM process that reads commands from a
// pseudo-terminal and answers on two pipes, with the trap file's control
// descriptors beside them.  Commands are sent whole, one at a time, and each
// answer is what SPIM printed before its next prompt.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "spim/instructions.h"
#include "spim/os.h"

namespace qv::spim {

struct SessionJob {
  std::string spim;            // the executable
  std::string trap;            // the trap file's text
  std::string program;         // the assembly to load
  std::vector<std::string> args;  // the program's arguments
  uint64_t stack = 0;          // -lstack; 0: SPIM's default
  uint32_t cpu_limit = 60;     // seconds of CPU time
  int wall_limit_ms = -1;      // longest wait for one answer; -1: none
  std::string preload;         // a library SPIM loads first (LD_PRELOAD), "": none
  bool own_group = false;      // a process group of its own: Ctrl-C is forwarded
};

struct Answer {
  std::string out;  // standard output before the prompt (its tail, past 1 MiB)
  uint64_t out_bytes = 0;  // all of it, counted
  std::string err;  // standard error
};

class SpimSession {
 public:
  SpimSession() = default;
  ~SpimSession();
  SpimSession(const SpimSession&) = delete;
  SpimSession& operator=(const SpimSession&) = delete;

  // Starts SPIM and waits for its first prompt.  False with `error`.
  bool start(const SessionJob& job, std::string& error);
  // The go-ahead the trap file's start-up code waits for: one per `run`.
  bool go();
  // `load`s the program.  False when SPIM did not answer; `a` holds what it
  // printed (assembler messages).
  bool load(Answer& a);
  // Sends `cmd` (complete, one line) and reads the answer.  False when SPIM
  // went away or did not answer in time.
  bool command(std::string_view cmd, Answer& a);
  // The same with the program's input right behind the command, in one
  // write: SPIM takes the command's line, and the program what follows.
  // (Input sent on its own would be read as a command.)
  bool command(std::string_view cmd, std::string_view input, Answer& a);
  // With `stream`, what SPIM prints goes to the sink as it comes, all but
  // its last bytes (which may be SPIM's own stop message and prompt): `a.out`
  // holds only those.
  bool command(std::string_view cmd, std::string_view input, Answer& a, bool stream);
  // And, given `then` (a command that does not run the program), sends it in
  // the same write, to be answered where `cmd` left SPIM, in `b`: one
  // exchange instead of two.  (Not behind input: the program would read it.)
  bool command(std::string_view cmd, std::string_view input, Answer& a, bool stream, std::string_view then,
               Answer& b);
  void set_sink(std::function<void(std::string_view)> sink) { sink_ = std::move(sink); }
  // What the trap file wrote to its control descriptor so far.
  std::string& control() { return ctl_; }
  // Ends SPIM.
  void stop();
  // A new SPIM for the same job, after the last one died.
  bool restart(std::string& error);
  bool alive() const { return pid_ > 0 && !dead_; }
  pid_t pid() const { return pid_; }
  // Ctrl-C for the program: sent to SPIM only while a streamed command
  // (one that runs the program) is under way, never while SPIM sits at its
  // prompt, where it would answer with an "Execution interrupted" of its
  // own.  One asked for in between is kept and sent as the next such
  // command starts (or taken by the caller with take_interrupt()).  Every
  // interrupt sent is matched with SPIM's message, read before the next
  // command.  Safe in a signal handler and from another thread.
  void interrupt();
  // The instruction count of the SPIM that runs now; nullptr when it runs
  // without the library (see available() too).
  InstructionCounter* counter() { return counter_.get(); }
  // An interrupt asked for and not sent: taken (false: none).
  bool take_interrupt() { return pending_.exchange(0) != 0; }

  // Checkpoints: copies of SPIM parked at its prompt as it stands now, each
  // of which can later be made the SPIM that answers, as often as wanted
  // (the one answering then ends).  SPIM must stand at its prompt and run
  // with the counting library.  A new SPIM (start, restart) ends them all;
  // `generation` tells which SPIM they belong to.
  int checkpoint();  // its number, -1: none was made
  bool resume(int number, std::string& error);
  void drop(int number);
  unsigned generation() const { return generation_; }

 private:
  bool launch(std::string& error);
  // Ends the SPIM that answers, and waits until it has.
  void end_live();
  // Waits until the library's answer has come: false after `ms`.
  bool handed_since(uint32_t before, int ms);
  struct Parked {
    pid_t pid = -1;
    int pidfd = -1;
  };
  std::vector<Parked> parked_;
  int pidfd_ = -1;          // the SPIM that answers, to see it end
  bool child_ = false;      // it is this process's own child (else a parked copy's)
  unsigned generation_ = 0;
  bool wait_prompt(Answer& a, bool stream, int timeout_ms);
  // With a second command sent behind the first, the first answer ends at
  // the first prompt, and what came after it is the next answer's start.
  bool split_ = false;
  std::string ahead_;
  // Reads the answers that interrupts sent too late left behind.
  void take_stray_interrupts(const Answer& a, const Answer* b = nullptr);

  SessionJob job_;
  NamedText trap_, prog_;
  Pipe out_, err_, ctl_pipe_, go_;
  int master_ = -1;
  pid_t pid_ = -1;
  std::string ctl_;
  bool err_open_ = true, ctl_open_ = true;
  bool dead_ = false;
  std::function<void(std::string_view)> sink_;
  std::unique_ptr<InstructionCounter> counter_;
  std::atomic<pid_t> running_pid_{-1};  // SPIM while it runs the program, else -1
  std::atomic<int> pending_{0};         // an interrupt asked for and not sent yet
  std::atomic<unsigned> sent_{0};       // interrupts sent
  unsigned seen_ = 0;                   // SPIM's answers to them read
  uint32_t limit_stops_ = 0;            // the instruction limit's interrupts, counted in sent_
};

}  // namespace qv::spim
