#include "run/report.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <set>
#include <string_view>

#include "spim/fault.h"
#include "spim/instructions.h"
#include "spim/trap.h"

namespace qv::run {

using check::Diag;
using check::Loc;
using check::Severity;
using spim::hex;

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> lines_of(std::string_view s) {
  std::vector<std::string_view> v;
  while (!s.empty()) {
    std::size_t nl = s.find('\n');
    v.push_back(s.substr(0, nl));
    if (nl == std::string_view::npos) break;
    s.remove_prefix(nl + 1);
  }
  return v;
}

// Whether `line` (outside its comment and strings) names `sym`.
bool refers_to(std::string_view line, std::string_view sym) {
  if (line.find('"') != std::string_view::npos) return false;
  line = line.substr(0, line.find('#'));
  std::size_t i = 0;
  auto sep = [](char c) { return c == ' ' || c == '\t' || c == ',' || c == '(' || c == ')' || c == ':'; };
  while (i < line.size()) {
    while (i < line.size() && sep(line[i])) i++;
    std::size_t j = i;
    while (j < line.size() && !sep(line[j])) j++;
    // A label definition ("X:") is not a reference.
    if (line.substr(i, j - i) == sym && !(j < line.size() && line[j] == ':')) return true;
    i = j;
  }
  return false;
}

bool reserved(std::string_view label) {
  if (label.substr(0, kLabelPrefix.size()) == kLabelPrefix) return true;
  for (const std::string& l : spim::trap_labels())
    if (l == label) return true;
  return false;
}

}  // namespace

InputState input_state(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return InputState::unknown;
  if (S_ISCHR(st.st_mode) && major(st.st_rdev) == 1 && minor(st.st_rdev) == 3) return InputState::at_end;  // /dev/null
  if (!S_ISREG(st.st_mode)) return InputState::unknown;
  off_t at = ::lseek(fd, 0, SEEK_CUR);
  if (at < 0) return InputState::unknown;
  return at >= st.st_size ? InputState::at_end : InputState::not_at_end;
}

Reporter::Reporter(const std::vector<Source>& srcs, const Translation& t, const Assembly& a, std::string asm_name)
    : srcs_(srcs), t_(t), a_(a), markers_(srcs), asm_file_(static_cast<uint32_t>(srcs.size())) {
  d_.tool = "quorvelin-run";
  for (const Source& s : srcs) d_.file_names.push_back(s.name);
  d_.file_names.push_back(std::move(asm_name));
}

Reporter::Site Reporter::site_of_line(int32_t plain) const {
  Site s;
  if (plain < 0 || static_cast<std::size_t>(plain) >= a_.plain_starts.size()) return s;
  s.plain = plain;
  s.piece = t_.piece_at(a_.plain_starts[plain]);
  return s;
}

Loc Reporter::no_line() const {
  Loc l;
  l.file = 0;
  return l;
}

Loc Reporter::loc_of(const Site& s) const {
  if (s.piece < 0) return no_line();
  const Piece& p = t_.pieces[s.piece];
  Loc l;
  l.file = p.file;
  l.line = p.line;
  l.col = p.col > 1 ? p.col : code_column(srcs_[p.file].line(p.line));
  return l;
}

std::string Reporter::text_of(const Site& s) const {
  if (s.piece < 0) return {};
  const Piece& p = t_.pieces[s.piece];
  return std::string(srcs_[p.file].line(p.line));
}

Diag& Reporter::error_at(const Site& s, std::string msg) {
  Loc l = loc_of(s);
  markers_.place(l, d_.src_names);
  return d_.add(Severity::error, -1, l, std::move(msg), text_of(s));
}

void Reporter::asm_note(Diag& d, const Site& s, std::string msg, uint32_t col) {
  if (s.plain < 0) return;
  std::string_view line = a_.plain_line(t_.plain, static_cast<uint32_t>(s.plain));
  check::Note n;
  n.loc.file = asm_file_;
  n.loc.line = static_cast<uint32_t>(s.plain) + 1;
  n.loc.col = col ? col : code_column(line);
  n.message = std::move(msg);
  n.text = std::string(line);
  d.notes.push_back(std::move(n));
}

bool Reporter::load(const std::string& out, const std::string& err) {
  std::size_t before = d_.all().size();
  bool stopped = false;  // loading stopped early: later labels read as undefined
  std::set<std::pair<std::string, long>> seen;
  std::vector<std::string_view> el = lines_of(err);
  for (std::size_t i = 0; i < el.size(); i++) {
    std::string_view l = el[i];
    constexpr std::string_view head = "spim: (parser) ";
    if (l.substr(0, head.size()) != head) {
      if (!trim(l).empty()) d_.add(Severity::error, -1, no_line(), "SPIM: " + std::string(trim(l)), "");
      continue;
    }
    std::string_view body = l.substr(head.size());
    std::size_t on = body.rfind(" on line ");
    std::string msg(body.substr(0, on));
    long n = 0;
    if (on != std::string_view::npos)
      for (std::size_t k = on + 9; k < body.size() && body[k] >= '0' && body[k] <= '9'; k++) n = n * 10 + (body[k] - '0');
    std::string_view echo;
    long caret = -1;
    if (i + 1 < el.size() && el[i + 1].substr(0, 3) == "\t  ") {
      echo = el[i + 1].substr(3);
      i++;
      if (i + 1 < el.size() && el[i + 1].substr(0, 3) == "\t  ") {
        std::size_t c = el[i + 1].find('^');
        if (c != std::string_view::npos) caret = static_cast<long>(c) - 3;
        i++;
      }
    }
    if (!seen.insert({msg, n}).second) continue;
    bool dup = msg.find("defined for the second time") != std::string::npos;
    if (!dup) stopped = true;
    // SPIM names the next line when the error shows at the end of a line.
    long run = n - 1;
    auto same = [&](long k) {
      return k >= 0 && static_cast<std::size_t>(k) < a_.run_to_plain.size() && a_.run_to_plain[k] >= 0 &&
             trim(a_.plain_line(t_.plain, static_cast<uint32_t>(a_.run_to_plain[k]))) == trim(echo);
    };
    if (!echo.empty() && !same(run) && same(run - 1)) run--;
    int32_t plain = run >= 0 && static_cast<std::size_t>(run) < a_.run_to_plain.size() ? a_.run_to_plain[run] : -1;
    Site s = site_of_line(plain);
    uint32_t col = 0;
    if (plain >= 0 && caret >= 0) {
      std::string_view pl = a_.plain_line(t_.plain, static_cast<uint32_t>(plain));
      std::size_t lead = pl.size() - std::string_view(pl).substr(pl.find_first_not_of(" \t") == std::string_view::npos ? pl.size() : pl.find_first_not_of(" \t")).size();
      col = static_cast<uint32_t>(lead + static_cast<std::size_t>(caret) + 1);
    }
    std::string text;
    if (dup) {
      std::string_view label = trim(echo.substr(0, echo.find(':')));
      if (reserved(label))
        text = "label '" + std::string(label) + "' is reserved for quorvelin-run's start-up code";
      else
        text = "label '" + std::string(label) + "' is defined a second time";
    } else {
      text = "SPIM cannot assemble the code of this line: " + msg;
    }
    Diag& d = error_at(s, text);
    asm_note(d, s, "the MIPS line SPIM rejects", col);
  }

  std::vector<std::string_view> ol = lines_of(out);
  std::size_t i = 0;
  for (std::size_t k = 0; k < ol.size(); k++)
    if (ol[k].substr(0, 8) == "Loaded: ") {
      i = k + 1;
      break;
    }
  bool no_end = false;
  for (; i < ol.size(); i++) {
    if (ol[i] == "The following symbols are undefined:") {
      for (i++; i < ol.size() && !ol[i].empty(); i++) {
        std::string sym(trim(ol[i]));
        if (stopped || sym.substr(0, kLabelPrefix.size()) == kLabelPrefix) continue;
        if (sym == "ENDIT" || sym == "ENDIT1") {
          if (!no_end) {
            Site last;
            last.piece = t_.pieces.empty() ? -1 : static_cast<int32_t>(t_.pieces.size() - 1);
            error_at(last, "the program has no 'end' line (the label " + sym + " it defines is undefined)");
          }
          no_end = true;
          continue;
        }
        int shown = 0;
        std::set<int32_t> pieces;
        for (uint32_t p = 0; p < a_.plain_starts.size() && shown < 20; p++) {
          if (!refers_to(a_.plain_line(t_.plain, p), sym)) continue;
          Site s = site_of_line(static_cast<int32_t>(p));
          if (!pieces.insert(s.piece).second) continue;
          Diag& d = error_at(s, "undefined label '" + sym + "'");
          asm_note(d, s, "the MIPS line that refers to it");
          shown++;
        }
        if (!shown) d_.add(Severity::error, -1, no_line(), "undefined label '" + sym + "'", "");
      }
      if (i >= ol.size()) break;
      continue;
    }
    if (!trim(ol[i]).empty()) d_.add(Severity::error, -1, no_line(), "SPIM: " + std::string(trim(ol[i])), "");
  }
  return d_.all().size() == before;
}

std::vector<Reporter::Site> Reporter::call_sites(const std::vector<spim::Frame>& frames) const {
  // The calls that led here, up to the main constructor's (made by the
  // program's end line, which is left out).
  std::vector<Site> sites;
  for (const spim::Frame& f : frames) {
    Site s = site_of_line(f.call);
    if (s.piece < 0 || std::find(t_.ends.begin(), t_.ends.end(), static_cast<uint32_t>(s.piece)) != t_.ends.end()) break;
    sites.push_back(s);
  }
  return sites;
}

void Reporter::calls(Diag& d, const std::vector<Site>& sites, std::size_t from) {
  constexpr std::size_t kHead = 6, kTail = 3;
  std::size_t n = sites.size() - std::min(from, sites.size());
  for (std::size_t k = 0; k < n; k++) {
    if (n > kHead + kTail + 1 && k == kHead) {
      check::Note e;
      e.loc = no_line();
      e.message = std::to_string(n - kHead - kTail) + " more calls";
      d.notes.push_back(std::move(e));
      k = n - kTail;
    }
    const Site& s = sites[from + k];
    check::Note note;
    note.loc = loc_of(s);
    markers_.place(note.loc, d_.src_names);
    std::string_view q = t_.procedure_of(s.piece);
    note.message = q.empty() ? "called from here" : "called from here (in '" + std::string(q) + "')";
    note.text = text_of(s);
    d.notes.push_back(std::move(note));
  }
}

bool Reporter::stack_overflow(const std::string& size) {
  if (!overflow_) return false;
  const spim::Halt& ov = *overflow_;
  spim::AddressMap map(a_, t_.plain, ov.table);
  std::vector<Site> sites = call_sites(spim::frames_of(ov.record.fp, ov.chain, map));
  // Stopped while entering a procedure (the stack grows there): the call
  // that entered it is the innermost one.  Else the stack grew on a line of
  // the procedure itself.
  Site where = site_of_line(map.line_of(ov.pc));
  if (where.piece < 0) return false;
  bool entering = t_.pieces[where.piece].opcode() == "ntr";
  if (entering) {
    Site call = site_of_line(map.line_of(ov.record.ra - 4));
    if (call.piece < 0) return false;
    sites.insert(sites.begin(), call);
    where = call;
  }
  // The procedures the calls were made in, those seen more than once (the
  // recursion), innermost first.
  std::vector<std::pair<std::string_view, std::size_t>> seen;
  for (const Site& c : sites) {
    std::string_view q = t_.procedure_of(c.piece);
    auto it = std::find_if(seen.begin(), seen.end(), [&](const auto& e) { return e.first == q; });
    if (it == seen.end())
      seen.emplace_back(q, 1);
    else
      it->second++;
  }
  std::string who;
  std::size_t named = 0;
  for (const auto& [q, count] : seen) {
    if (count < 2 || q.empty()) continue;
    who += (named ? " and '" : "'") + std::string(q) + "'";
    named++;
  }
  std::string msg = "stack overflow " + std::to_string(sites.size()) + " calls deep";
  if (named) msg += ", in the recursion of " + who;
  msg += " (SPIM's stack cannot grow to " + size + ")";
  Diag& d = error_at(where, msg);
  check::Note n;
  n.loc = no_line();
  n.message = "raise the limit with --stack BYTES, more than " + size;
  d.notes.push_back(n);
  calls(d, sites, entering ? 1 : 0);
  return true;
}

bool Reporter::in_runtime_routine(int32_t plain) const {
  constexpr std::string_view kRoutine = "_var_:";
  for (uint32_t p = 0; p < a_.plain_starts.size() && static_cast<int32_t>(p) <= plain; p++)
    if (a_.plain_line(t_.plain, p).substr(0, kRoutine.size()) == kRoutine) return true;
  return false;
}

void Reporter::instruction_limit(const Options& o) {
  std::string msg =
      "the program was stopped at its limit of " + spim::instructions_text(o.max_instructions) + " (--max-instructions)";
  if (limit_stop_) {
    const spim::Halt& h = *limit_stop_;
    spim::AddressMap map(*limit_marks_, t_.plain, h.table);
    std::vector<Site> sites = call_sites(spim::frames_of(h.record.fp, h.chain, map));
    int32_t line = map.line_of(h.pc);
    Site where = site_of_line(line);
    // In the run-time routine every line shares: the line that called it.
    // Before it, in the program's own start-up code, no line of the program
    // has run yet.
    if (where.piece < 0 && in_runtime_routine(line)) where = site_of_line(map.line_of(h.record.ra - 4));
    if (where.piece >= 0) {
      Diag& d = error_at(where, msg);
      asm_note(d, where, "the MIPS line of the next instruction");
      calls(d, sites);
      return;
    }
    limit_why_ = "it stopped in the program's start-up code, before its first line";
  }
  Diag& d = d_.add(Severity::error, -1, no_line(), msg + "; no line of the program is known", "");
  if (!limit_why_.empty()) {
    check::Note n;
    n.loc = no_line();
    n.message = limit_why_;
    d.notes.push_back(std::move(n));
  }
}

void Reporter::stats(const SpimRun& r, const Options& o, double seconds) {
  char time[32];
  std::snprintf(time, sizeof time, "%.3f s", seconds);
  if (!r.counted) {
    d_.add(Severity::note, -1, no_line(),
           "instructions cannot be counted with this SPIM (the library quorvelin-run preloads into it is missing "
           "or did not load); the CPU-time limit of " + std::to_string(o.cpu_limit) + " s applies; the run took " +
               time, "");
    return;
  }
  uint64_t own = r.instructions >= spim::kStartupInstructions ? r.instructions - spim::kStartupInstructions : 0;
  std::string msg = spim::instructions_text(own) + " executed in " + time + " (SPIM's start-up code, " +
                    std::to_string(spim::kStartupInstructions) + " more, not counted";
  if (r.have_record) msg += "; the trap handler's included";
  d_.add(Severity::note, -1, no_line(), msg + ")", "");
}

void Reporter::exception(const SpimRun& r) {
  spim::AddressMap map(a_, t_.plain, r.table);
  spim::Record rec{r.record[0], r.record[1], r.record[2], r.record[3], r.record[4], r.record[5]};
  spim::Fault f = spim::decode(rec, map);
  std::vector<Site> frames = call_sites(spim::frames_of(rec.fp, r.chain, map));
  Site at = site_of_line(f.at);
  switch (f.kind) {
    case spim::Fault::Kind::bad_call:
      if (at.piece >= 0) {
        Diag& d = error_at(at, f.what);
        asm_note(d, at, "the MIPS instruction that made the call");
        calls(d, frames);
        return;
      }
      [[fallthrough]];
    case spim::Fault::Kind::bad_jump:
      d_.add(Severity::error, -1, no_line(),
             "jump to address " + hex(f.epc) +
                 ", which holds no code; no line of the program is known (a return through a damaged stack frame?)",
             "");
      return;
    case spim::Fault::Kind::at:
      break;
  }
  if (at.piece >= 0) {
    Diag& d = error_at(at, f.what);
    asm_note(d, at, "the MIPS instruction that failed");
    calls(d, frames);
    return;
  }
  // In the program's frame (the run-time routine _var_): name the line that called it.
  Site from = site_of_line(f.from);
  if (at.plain >= 0 && from.piece >= 0) {
    Diag& d = error_at(from, f.what + " in the run-time routine called here");
    asm_note(d, at, "the MIPS instruction that failed");
    asm_note(d, from, "the call");
    calls(d, frames);
    return;
  }
  Diag& d = d_.add(Severity::error, -1, no_line(), f.what + " at address " + hex(f.epc) + "; no line of the program is known", "");
  asm_note(d, at, "the MIPS instruction that failed");
}

void Reporter::spim_message(const std::string& err) {
  for (const spim::SpimError& e : spim::spim_errors(err)) {
    switch (e.kind) {
      case spim::SpimError::Kind::stack: {
        if (stack_overflow(e.text)) break;
        Diag& d = d_.add(Severity::error, -1, no_line(),
                         "stack overflow: SPIM's stack limit does not let the stack grow to " + e.text +
                             "; no line of the program is known", "");
        check::Note n;
        n.loc = no_line();
        n.message = "raise the limit with --stack BYTES, more than " + e.text;
        d.notes.push_back(n);
        if (t_.reads) {
          // The calls are found by running the program again, which needs
          // the same input again.
          n.message = "no backtrace: the program reads input, so it is not run a second time";
          d.notes.push_back(n);
        }
        break;
      }
      case spim::SpimError::Kind::no_instruction:
        d_.add(Severity::error, -1, no_line(),
               "execution reached address " + hex(e.addr) + ", which holds no instruction (ran past the end of the code?)", "");
        break;
      case spim::SpimError::Kind::syscall:
        d_.add(Severity::error, -1, no_line(), "unknown system call " + e.text + "; no line of the program is known", "");
        break;
      case spim::SpimError::Kind::other:
        d_.add(Severity::error, -1, no_line(), "SPIM: " + e.text, "");
        break;
    }
  }
}

int Reporter::outcome(const SpimRun& r, const Options& o, InputState in) {
  if (r.interrupted) return 130;
  // The runner's standard output went away and SPIM was stopped for it: a
  // closed pipe (`| head`) ends the run quietly, as it ends any program
  // (quorvelin-run then dies of SIGPIPE); any other failed write (a full
  // disk) is said.  Neither is a limit the program reached.
  if (r.output_closed) {
    if (r.output_errno != EPIPE)
      d_.add(Severity::error, -1, no_line(),
             std::string("cannot write the program's output: ") + std::strerror(r.output_errno), "");
    return 4;
  }
  if (r.output_limit) {
    d_.add(Severity::error, -1, no_line(),
           "the program printed more than " + std::to_string(o.max_output) + " bytes and was stopped (--max-output)", "");
    return 3;
  }
  bool cpu = !r.exited && (r.sig == SIGXCPU || r.sig == SIGKILL);
  if (!r.loaded) {
    if (cpu) {
      d_.add(Severity::error, -1, no_line(),
             "SPIM used up the CPU time limit of " + std::to_string(o.cpu_limit) +
                 " s while loading the program (it hangs on some non-ASCII bytes)", "");
      return 3;
    }
    std::string what = r.exited ? "exit status " + std::to_string(r.status) : "signal " + std::to_string(r.sig);
    Diag& d = d_.add(Severity::error, -1, no_line(), "SPIM stopped before the program had loaded (" + what + ")", "");
    for (std::string_view l : lines_of(r.load_err)) {
      check::Note n;
      n.loc = no_line();
      n.message = "SPIM: " + std::string(trim(l));
      if (!trim(l).empty()) d.notes.push_back(n);
    }
    return 4;
  }
  if (r.rejected) return 1;
  if (r.instruction_limit) {
    instruction_limit(o);
    return 3;
  }
  if (r.have_record) {
    exception(r);
    return 2;
  }
  if (cpu) {
    std::string msg = "the program used up its CPU time limit of " + std::to_string(o.cpu_limit) + " s (--cpu-limit)";
    if (in != InputState::at_end || !t_.reads) {
      d_.add(Severity::error, -1, no_line(), msg, "");
      return 3;
    }
    Diag& d = d_.add(Severity::error, -1, no_line(),
                     msg + ": it was still waiting for input at end of input", "");
    for (uint32_t idx : t_.input_ops) {
      Site s;
      s.piece = static_cast<int32_t>(idx);
      check::Note n;
      n.loc = loc_of(s);
      markers_.place(n.loc, d_.src_names);
      std::string text = text_of(s);
      n.message = "'" + std::string(t_.pieces[idx].opcode()) + "' loops for ever at end of input";
      n.text = text;
      d.notes.push_back(std::move(n));
      if (d.notes.size() == 10) break;
    }
    return 3;
  }
  if (!trim(r.run_err).empty()) {
    spim_message(r.run_err);
    return 2;
  }
  if (r.exited && r.status == 255) {
    d_.add(Severity::error, -1, no_line(),
           "SPIM executed a word that is not an instruction (a jump into data?); no line of the program is known", "");
    return 2;
  }
  if (!r.exited) {
    d_.add(Severity::error, -1, no_line(), "SPIM was killed by signal " + std::to_string(r.sig), "");
    return 4;
  }
  return r.status;
}

}  // namespace qv::run
