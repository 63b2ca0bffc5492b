// The debugger's command language (gdb's names and layouts) over the
// engine: one interpreter for the terminal front end and the debug
// adapter's console, and the expressions, frames and locations both show.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "debug/engine_names.h"
#include "emit/marks.h"
#include "check/diag.h"
#include "run/program.h"

namespace qv::debug {

// The commands, for `help` (the front end adds its own usage above them).
extern const char* const kCommandHelp;

std::string trim(std::string_view s);
// The words of a command's argument, split at blanks.
std::vector<std::string> words(std::string_view s);
// A path's last part.
std::string base_name(std::string path);

// Where the program's input comes from, as the front end has it.
class ProgramInput {
 public:
  virtual ~ProgramInput() = default;
  // `run < FILE`: the input is read from FILE from now on.
  virtual bool open(const std::string& path) = 0;
  // A new run reads a file from its start again.
  virtual void rewind() = 0;
  // Appends the next bytes (a line at least).
  virtual Engine::Got more(std::string& into) = 0;
};

// The usual input: a file when one is given (--input, stdinFile, run <
// FILE), read from its start at every run; else what the person at the
// front end types (`typed`).
class FileOrTyped : public ProgramInput {
 public:
  FileOrTyped() = default;
  ~FileOrTyped() override;
  FileOrTyped(const FileOrTyped&) = delete;
  FileOrTyped& operator=(const FileOrTyped&) = delete;
  bool open(const std::string& path) override;
  void rewind() override;
  Engine::Got more(std::string& into) override;

 protected:
  virtual Engine::Got typed(std::string& into) = 0;

 private:
  int fd_ = -1;
};

// Where the debugger's words and the program's output go.
class Screen {
 public:
  virtual ~Screen() = default;
  virtual void say(std::string_view s) = 0;
  // The program's output, handed over as it is printed.
  virtual void program(std::string_view s) = 0;
};

// A value's place: a general or float register, or a word of memory.
struct Place {
  enum Kind : uint8_t { gpr, fpr, word, value } kind = gpr;  // value: computed, held nowhere
  int reg = 0;        // $N or $fN
  uint32_t addr = 0;  // the word's address
};

class Debugger {
 public:
  Debugger(const std::vector<run::Source>& srcs, const run::Translation& t, const MarkedAssembly& a, Engine& e,
           Screen& screen, ProgramInput& input, bool color);

  // Runs one command line; false at quit.
  bool execute(const std::string& line);
  // The program's exit status as the runner would give it (0 before an end).
  int status() const { return status_; }
  Engine& engine() { return e_; }

  // "FILE:LINE" of a piece, the marked source first.
  std::string where(int32_t piece) const;
  // The marked source and line of a piece, {-1, 0}: none.
  std::pair<int32_t, uint32_t> marked(int32_t piece) const { return piece_src_[piece]; }
  const std::vector<std::string>& marked_names() const { return src_names_; }
  // A breakpoint's place: LINE, FILE:LINE (of an input or a marked source)
  // or a label.
  int32_t resolve(std::string_view place, bool& moved, std::string& error) const;

  // The value of a print expression; `a` becomes its shown name, `where`
  // (when given) the register or word it was read from.
  bool value_of(std::string& a, uint32_t& v, std::string& err, Place* where = nullptr);
  // Gives the register or memory word EXPR names the value `v` (as the
  // selected frame sees it); false with `err` for anything else.
  bool assign(std::string expr, uint32_t v, std::string& err);
  // print's argument, "[/FMT] EXPR": the value, the expression as shown and
  // the format to show it in.
  bool printed(std::string_view arg, std::string& shown, uint32_t& v, char& fmt, std::string& err);
  // Whether "EXPR OP NUMBER" holds now.
  bool condition_holds(const std::string& cond, std::string& err);
  // A value as `print /FMT` shows it.
  static std::string format(uint32_t v, char fmt);

  // The frames of the last stop (frame 0 innermost), and the one selected.
  const std::vector<FrameInfo>& frames();
  std::size_t selected() const { return selected_; }
  bool select(std::size_t k);
  // Register $n as the selected frame sees it.
  bool reg(int n, uint32_t& v);
  // Where register $n as the selected frame sees it lives: the register
  // itself, or the word of a callee's record that saved it.
  Place reg_place(int n);
  // The selected frame's record: false when it is not built yet.
  struct Slot {
    std::string name;  // "var 0, D"
    bool argument;
    uint32_t addr;
  };
  bool frame_slots(std::size_t frame, std::vector<Slot>& slots);
  // Frame `frame` stands in the end line's code, which calls the main
  // procedure and lies in none: it has no record.
  bool in_start_up(std::size_t frame);
  // What a new stop changes: the selected frame and what is known of it.
  void forget_frames();

 private:
  void say(std::string_view s) { screen_.say(s); }
  // The runner's messages about how the program ended.
  void report(check::Diags& d);
  void place_markers();
  void show_line(int32_t piece);
  void show_stop(Stop s, bool announce_procedure);
  void print_expr(std::string_view arg);
  void show_displays();
  void examine(std::string_view arg);
  std::string describe(uint32_t addr);
  void stepi();
  // reverse-step, reverse-next, reverse-finish, reverse-continue.
  void go_back(const std::string& cmd, int count);
  // continue with watchpoints: line by line until a value changes.
  Stop watch_continue();
  // The text of the NUL-ended string at `at`, escaped (at most 200
  // characters); `strict`: false when it holds a byte that is not text.
  bool string_at(uint32_t at, bool strict, std::string& text);
  // The procedure the program's end line calls (its last operand), "": none.
  std::string main_procedure() const;
  void info_registers(std::string_view which = {});
  void backtrace(std::size_t limit);
  void info_frame();
  void list(std::string_view arg);
  void select_frame(long k, bool relative);
  void help(const std::string& arg);
  int32_t local_count(int32_t entry_piece) const;
  int32_t argument_count(int32_t entry_piece) const;
  bool returns_value(int32_t entry_piece) const;
  bool first_return(int32_t entry_piece) const;
  int32_t entry_of(int32_t piece) const { return t_.entry_of(piece); }

  const std::vector<run::Source>& srcs_;
  const run::Translation& t_;
  mutable run::Fields fields_;  // reads lines as the translator does
  const MarkedAssembly& a_;
  Engine& e_;
  Screen& screen_;
  ProgramInput& input_;
  bool color_;
  std::vector<std::pair<int32_t, uint32_t>> piece_src_;  // per piece: marked source and line
  std::vector<std::string> src_names_;                   // the marked sources
  bool ended_line_ = true;
  struct Shown {
    int number;
    std::string expr;
    bool watch;  // a watchpoint: stop when its value changes
    bool known = false;
    uint32_t value = 0;
  };
  std::vector<Shown> shown_;  // display and watch expressions, numbered with the breakpoints
  int next_shown_ = 1;
  int status_ = 0;
  std::size_t selected_ = 0;
  std::vector<FrameInfo> frames_;  // as of the last stop, when asked for
  bool frames_known_ = false;
  int32_t listed_ = -1;      // the piece the last list was about, -1: none
  uint32_t listed_end_ = 0;  // the last line it showed
  std::string_view shown_proc_;
  bool shown_any_ = false;
};

}  // namespace qv::debug
