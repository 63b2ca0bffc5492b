// quorvelin-check: reports what in an intermediate program will not assemble
// or run, at the line where it was written.
//
//   quorvelin-check [OPTIONS] FILE...
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "check/check.h"
#include "emit/out.h"
#include "version.h"

namespace {

constexpr const char* kHelp =
    "Usage: quorvelin-check [OPTIONS] FILE...\n"
    "Reads the files as one program, in the order given, exactly as quorvelin\n"
    "translates them, and reports on standard error what SPIM would reject,\n"
    "mis-run or hang on, at the line where it was written.\n"
    "\n"
    "Options:\n"
    "  --color=WHEN      colour the diagnostics: auto (on a terminal), always, never\n"
    "  --max-errors N    stop after N errors (default 50; 0: no limit)\n"
    "  -Werror           treat warnings as errors\n"
    "  -WNAME            turn the rule NAME on\n"
    "  -Wno-NAME         turn the rule NAME off\n"
    "  --help            show this help and exit\n"
    "  --version         show the version and exit\n"
    "\n"
    "Rules: unknown-opcode line-too-long operand-count extra-operand operand-kind\n"
    "  register-range float-register duplicate-label undefined-label\n"
    "  reserved-label pass-through non-ascii string-literal program-end\n"
    "  class-table result-register argument-count heap-size\n"
    "\n"
    "A comment //#line N \"FILE\" makes the following lines come from line N of\n"
    "FILE: diagnostics then name that position first.\n"
    "\n"
    "Exit status: 0 no error (warnings allowed), 1 errors found, 2 usage error or\n"
    "a file that cannot be read.\n"
    "\n"
    "See quorvelin-check(1), and quorvelin-ic(5) for the intermediate code.\n";

void say(const std::string& s) { (void)qv::write_all(2, s + "\n"); }

int usage_error(const std::string& what) {
  say("quorvelin-check: " + what);
  say("Try 'quorvelin-check --help' for more information.");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qv::check;
  Settings settings;
  Diags diags(&rule_names());
  std::vector<std::string> files;
  bool only_files = false;
  for (int i = 1; i < argc; i++) {
    std::string_view a = argv[i];
    if (only_files || a.empty() || a[0] != '-' || a == "-") {
      files.emplace_back(a);
      continue;
    }
    if (a == "--") {
      only_files = true;
    } else if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return std::fflush(stdout) == 0 ? 0 : 2;
    } else if (a == "--version") {
      std::printf("quorvelin-check %s\n", QV_VERSION);
      return std::fflush(stdout) == 0 ? 0 : 2;
    } else if (a.rfind("--color", 0) == 0) {
      std::string_view v = a.size() > 8 && a[7] == '=' ? a.substr(8) : std::string_view();
      if (a == "--color") v = "always";
      if (v == "auto") diags.opt.color = Color::auto_;
      else if (v == "always") diags.opt.color = Color::always;
      else if (v == "never") diags.opt.color = Color::never;
      else return usage_error("--color takes auto, always or never, not '" + std::string(v) + "'");
    } else if (a.rfind("--max-errors", 0) == 0) {
      std::string v;
      if (a.size() > 12 && a[12] == '=') v = a.substr(13);
      else if (a.size() == 12 && i + 1 < argc) v = argv[++i];
      else return usage_error("--max-errors needs a number");
      char* end = nullptr;
      unsigned long n = std::strtoul(v.c_str(), &end, 10);
      if (v.empty() || *end || v[0] == '-' || n > 0xffffffffUL) return usage_error("--max-errors needs a number, not '" + v + "'");
      diags.opt.max_errors = static_cast<uint32_t>(n);
    } else if (a == "-Werror") {
      diags.opt.werror = true;
    } else if (a == "-Wno-error") {
      diags.opt.werror = false;
    } else if (a.rfind("-Wno-", 0) == 0 || a.rfind("-W", 0) == 0) {
      bool off = a.rfind("-Wno-", 0) == 0;
      std::string_view name = a.substr(off ? 5 : 2);
      int r = find_rule(name);
      if (r < 0) return usage_error("unknown rule '" + std::string(name) + "' (see --help for the rules)");
      settings.on[r] = !off;
    } else {
      return usage_error("unknown option '" + std::string(a) + "'");
    }
  }
  if (files.empty()) return usage_error("no input files");

  std::string io_error;
  if (!check_files(files, settings, diags, io_error)) {
    diags.print(2, false);
    say(io_error);
    return 2;
  }
  diags.print(2);
  return diags.has_errors() ? 1 : 0;
}
