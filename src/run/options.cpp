#include "run/options.h"

#include <string_view>

namespace qv::run {

namespace {

// A count with an optional K, M or G suffix (powers of 1024).
bool parse_size(std::string_view s, uint64_t max, uint64_t& v) {
  if (s.empty()) return false;
  uint64_t unit = 1;
  char last = s.back();
  if (last == 'K' || last == 'k') unit = uint64_t{1} << 10;
  if (last == 'M' || last == 'm') unit = uint64_t{1} << 20;
  if (last == 'G' || last == 'g') unit = uint64_t{1} << 30;
  if (unit != 1) s.remove_suffix(1);
  if (s.empty()) return false;
  v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
    if (v > max) return false;
  }
  if (v > max / unit) return false;
  v *= unit;
  return true;
}

}  // namespace

bool parse_options(int argc, char** argv, Options& o, std::string& error) {
  for (int i = 1; i < argc; i++) {
    std::string_view a = argv[i];
    if (a == "--") {
      for (i++; i < argc; i++) o.args.emplace_back(argv[i]);
      break;
    }
    if (a.size() < 2 || a[0] != '-') {
      o.files.emplace_back(a);
      continue;
    }
    std::string_view name = a, value;
    bool inline_value = false;
    if (std::size_t eq = a.find('='); a.substr(0, 2) == "--" && eq != std::string_view::npos) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
      inline_value = true;
    }
    auto take = [&]() -> bool {
      if (inline_value) return true;
      if (name == "-S" && a.size() > 2) {  // -SFILE
        value = a.substr(2);
        return true;
      }
      if (i + 1 >= argc) {
        error = "option " + std::string(name) + " needs a value";
        return false;
      }
      value = argv[++i];
      return true;
    };
    auto flag = [&]() -> bool {
      if (inline_value) {
        error = "option " + std::string(name) + " takes no value";
        return false;
      }
      return true;
    };
    if (name == "--help" || name == "-h") {
      if (!flag()) return false;
      o.help = true;
    } else if (name == "--version") {
      if (!flag()) return false;
      o.version = true;
    } else if (name == "--no-check") {
      if (!flag()) return false;
      o.check = false;
    } else if (name == "-S" || (a.substr(0, 2) == "-S" && !inline_value)) {
      name = "-S";
      if (!take()) return false;
      o.asm_out = value;
    } else if (name == "--cpu-limit") {
      uint64_t v;
      if (!take()) return false;
      if (!parse_size(value, 1u << 30, v) || v == 0) {
        error = "--cpu-limit wants a whole number of seconds, 1 or more, not '" + std::string(value) + "'";
        return false;
      }
      o.cpu_limit = static_cast<uint32_t>(v);
      o.cpu_limit_set = true;
    } else if (name == "--max-instructions") {
      if (!take()) return false;
      if (!parse_size(value, uint64_t{1} << 60, o.max_instructions) || o.max_instructions == 0) {
        error = "--max-instructions wants a number of instructions, 1 or more (K, M, G allowed), not '" +
                std::string(value) + "'";
        return false;
      }
      o.max_instructions_set = true;
    } else if (name == "--stats") {
      if (!flag()) return false;
      o.stats = true;
    } else if (name == "--max-output") {
      if (!take()) return false;
      if (!parse_size(value, uint64_t{1} << 50, o.max_output)) {
        error = "--max-output wants a number of bytes (K, M, G allowed), not '" + std::string(value) + "'";
        return false;
      }
    } else if (name == "--stack") {
      if (!take()) return false;
      // SPIM keeps the limit in a 32-bit int.
      if (!parse_size(value, 0x7fffffff, o.stack) || o.stack == 0 || o.stack > 0x7fffffff) {
        error = "--stack wants a number of bytes up to 2147483647 (K, M, G allowed), not '" + std::string(value) + "'";
        return false;
      }
    } else if (name == "--trace") {
      if (!flag()) return false;
      o.trace = true;
    } else if (name == "--trace-file") {
      if (!take()) return false;
      if (value.empty()) {
        error = "--trace-file wants a file name";
        return false;
      }
      o.trace = true;
      o.trace_file = std::string(value);
    } else if (name == "--trace-limit") {
      if (!take()) return false;
      if (!parse_size(value, uint64_t{1} << 40, o.trace_limit) || o.trace_limit == 0) {
        error = "--trace-limit wants a number of lines, 1 or more, not '" + std::string(value) + "'";
        return false;
      }
    } else if (name == "--spim") {
      if (!take()) return false;
      if (value.empty()) {
        error = "--spim wants a path";
        return false;
      }
      o.spim = value;
    } else {
      error = "unknown option '" + std::string(a) + "' (see --help)";
      return false;
    }
  }
  if (!o.help && !o.version && o.files.empty()) {
    error = "no input file (see --help)";
    return false;
  }
  return true;
}

std::string help_text() {
  return R"(Usage: quorvelin-run [OPTIONS] FILE... [-- PROGRAM-ARGS]

Checks the intermediate-code FILEs, translates them into one MIPS program and
runs it in SPIM.  The program's output goes to standard output as it comes and
it reads standard input; the runner's own messages go to standard error, at
the intermediate-code line they concern.

Options:
  -S FILE              also write the translated assembly to FILE (exactly
                       what quorvelin writes)
  --no-check           skip the checker
  --max-instructions N stop the program after N instructions of its own
                       (default 1000000000; K, M and G are powers of 1024);
                       the same N stops it at the same line on any machine
  --cpu-limit SECONDS  stop the program after this much CPU time (default 60
                       when instructions cannot be counted, else 600 as a
                       safety net; time spent waiting for input does not count)
  --stats              end with the number of instructions the program
                       executed and the run's time, on standard error
  --max-output BYTES   stop the program once it has printed this much
                       (default 64M; K, M and G suffixes are powers of 1024)
  --stack BYTES        let SPIM's stack grow to this size (SPIM's -lstack)
  --spim PATH          the SPIM to run (default: spim on the PATH)
  --trace              write every line as it runs to standard error,
                       FILE:LINE: text, indented by call depth, then
                       what the line changed (r4 = 0, [ADDR] = 55,
                       -> Proc(1, 2), returns 3)
  --trace-file FILE    --trace, written to FILE instead
  --trace-limit N      trace this many lines, then run on untraced
                       (default 10000)
  --help               show this text
  --version            show the version

Exit status:
  0    the program ran to its end (a status it passes to SPIM's exit service
       is passed through)
  1    the program did not build: checker errors or assembler errors
  2    a run-time error: bad or unaligned address, arithmetic overflow,
       division by zero, a jump to an address without code, an unknown
       system call, a stack overflow
  3    a limit stopped it: --max-instructions, --cpu-limit or --max-output
  4    quorvelin-run could not work: usage, an unreadable file, no SPIM
  130  interrupted

See quorvelin-run(1), and quorvelin-ic(5) for the intermediate code.
)";
}

}  // namespace qv::run
