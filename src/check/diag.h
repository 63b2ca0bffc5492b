// Diagnostics in the form compilers use and editors parse:
//
//   FILE:LINE:COL: error: MESSAGE [-WNAME]
//    12 |   add r1, r14
//       |           ^
//
// on standard error, in input order, with notes for related places, colour
// only where asked for, and a summary line at the end.  The checker and the
// runner both report through this.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv::check {

enum class Severity : uint8_t { note, warning, error };

// A place in the intermediate code: the file (its index among the inputs),
// the 1-based line and column.  `src` is the position a line marker
// ("//#line N FILE") gives that line in the user's own source, if any.
struct Loc {
  uint32_t file = 0;
  uint32_t line = 0;
  uint32_t col = 0;
  int32_t src_file = -1;  // index into Diags::src_names, -1: no marker
  uint32_t src_line = 0;
};

struct Note {
  Loc loc;
  std::string message;
  std::string text;  // the source line, shown with a caret under loc.col
};

struct Diag {
  Severity severity = Severity::error;
  int rule = -1;  // index into the rule names, -1: none shown
  Loc loc;
  std::string message;
  std::string text;
  std::vector<Note> notes;
  uint64_t seq = 0;       // creation order, to keep ties stable
  bool promoted = false;  // a warning made an error by -Werror
};

enum class Color : uint8_t { never, always, auto_ };

struct Options {
  Color color = Color::auto_;
  bool werror = false;
  uint32_t max_errors = 50;  // 0: no limit
};

class Diags {
 public:
  // `rules` lists the rule names (for "[-WNAME]"); the caller owns them.
  explicit Diags(const std::vector<std::string_view>* rules = nullptr) : rules_(rules) {}

  std::vector<std::string> file_names;  // the inputs, in order
  std::vector<std::string> src_names;   // files named by line markers

  Options opt;
  std::string tool = "quorvelin-check";  // names the command in its own lines

  Diag& add(Severity s, int rule, const Loc& loc, std::string message, std::string text);
  std::vector<Diag>& all() { return list_; }

  uint32_t errors() const { return errors_; }
  uint32_t warnings() const { return warnings_; }
  bool has_errors() const { return errors_ > 0; }

  // Sorts into input order and drops what comes after the error limit, so
  // that only what will be shown needs its source lines.
  void trim();
  // Sorts into input order and writes everything to `fd`, then the summary
  // line (when there was anything).  Returns false when stopped at the error
  // limit.  Counts what was shown.
  void print(int fd, bool summary = true);

  // One diagnostic, formatted (no colour unless `color`): for tests and for
  // the runner's own messages.
  std::string format(const Diag& d, bool color) const;

  // Writes bytes as they may appear in a terminal: printable ASCII and tabs
  // as they are, anything else as <XX>.
  static std::string escape(std::string_view s);
  // The column, counted in shown characters, of byte offset `col` (1-based).
  static uint32_t shown_col(std::string_view line, uint32_t col);

 private:
  std::string where(const Loc& l) const;
  void format_one(std::string& o, Severity s, int rule, bool promoted, const Loc& loc,
                  std::string_view message, std::string_view text, bool color) const;

  const std::vector<std::string_view>* rules_;
  std::vector<Diag> list_;
  uint32_t errors_ = 0;
  uint32_t warnings_ = 0;
  uint64_t seq_ = 0;
  bool stopped_ = false;  // diagnostics past the error limit were dropped
};

// A message of a command's own, at no line of the program ("TOOL: error:
// MESSAGE", with an optional note under it), written to standard error.
void tool_message(const std::string& tool, Severity s, const std::string& message, const std::string& note = {});

// A name or token for a message: in single quotes, escaped as source lines are.
inline std::string quoted(std::string_view s) {
  std::string o = "'";
  o += Diags::escape(s);
  o += '\'';
  return o;
}

// Whether to colour output on `fd` under the given choice (and NO_COLOR).
bool use_color(Color c, int fd);

}  // namespace qv::check
