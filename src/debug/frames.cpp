// The debugger's frames: backtrace, frame, up and down, info frame, info
// args and locals, and registers as a selected frame saw them.
#include "debug/commands.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "check/check.h"
#include "run/options.h"
#include "run/report.h"
#include "spim/fault.h"
#include "spim/process.h"

namespace qv::debug {

void Debugger::backtrace(std::size_t limit) {
  std::vector<FrameInfo> f = e_.backtrace(limit);
  if (f.empty()) {
    say("No stack.\n");
    return;
  }
  for (std::size_t i = 0; i < f.size(); i++) {
    std::string l = "#";
    l += std::to_string(i);
    l += "  ";
    l += f[i].procedure;
    l += " at ";
    l += where(f[i].piece);
    l += "\n";
    say(l);
  }
}

bool Debugger::reg(int n, uint32_t& v) {
  Place p = reg_place(n);
  return p.kind == Place::gpr ? e_.reg(n, v) : e_.word(p.addr, v);
}

Place Debugger::reg_place(int n) {
  // The callee's record holds $9..$22 as they were at the call; a callee
  // stopped before its entry code ran built no record.
  if (selected_ == 0 || n < 9 || n > 22) return {Place::gpr, n, 0};
  frames();
  const FrameInfo& callee = frames_[selected_ - 1];
  if (callee.fp == frames_[selected_].fp) return {Place::gpr, n, 0};
  return {Place::word, 0, callee.fp + 64 - 4 * static_cast<uint32_t>(n - 9)};
}

int32_t Debugger::local_count(int32_t entry) const {
  if (entry < 0) return 0;
  // ntr LABEL, N
  fields_.read(qv::run::piece_text(srcs_, t_.pieces[entry]));
  return static_cast<int32_t>(std::max(0L, fields_.number(1)));
}

// The first return of the procedure entered at `entry`, read into fields_;
// false when there is none before the next procedure.
bool Debugger::first_return(int32_t entry) const {
  for (std::size_t k = static_cast<std::size_t>(entry) + 1; entry >= 0 && k < t_.pieces.size(); k++) {
    const qv::run::Piece& p = t_.pieces[k];
    if (p.opcode() == "ntr") break;
    if (p.opcode() != "rtn") continue;
    fields_.read(qv::run::piece_text(srcs_, p));
    return true;
  }
  return false;
}

bool Debugger::returns_value(int32_t entry) const {
  // "rtn rX, N": its first operand names a register.
  return first_return(entry) && fields_.general(0) >= 0;
}

int32_t Debugger::argument_count(int32_t entry) const {
  // What the procedure's first return takes off the stack: "rtn [rX,] N".
  if (!first_return(entry)) return 0;
  return static_cast<int32_t>(std::max(0L, fields_.number(fields_.general(0) >= 0 ? 1 : 0)));
}

void Debugger::select_frame(long k, bool relative) {
  if (!e_.inspectable()) {
    say("No stack.\n");
    return;
  }
  frames();
  if (k < 0 || static_cast<std::size_t>(k) >= frames_.size()) {
    if (!relative) {
      say("No frame at level " + std::to_string(k) + ".\n");
      return;
    }
    // Up or down past the end goes to the end; from there, no further.
    std::size_t end = k < 0 ? 0 : frames_.size() - 1;
    if (selected_ == end) {
      say(k < 0 ? "Bottom (innermost) frame selected; you cannot go down.\n"
                : "Initial frame selected; you cannot go up.\n");
      return;
    }
    k = static_cast<long>(end);
  }
  selected_ = static_cast<std::size_t>(k);
  const FrameInfo& f = frames_[selected_];
  // (Built in steps: GCC 12 warns falsely on "literal" + string here.)
  std::string l = "#";
  l += std::to_string(selected_);
  l += "  ";
  l += f.procedure;
  l += " at ";
  l += where(f.piece);
  l += "\n";
  say(l);
  show_line(f.piece);
}

std::string Debugger::main_procedure() const {
  if (t_.ends.empty()) return {};
  const qv::run::Piece& p = t_.pieces[t_.ends.back()];
  std::string line(srcs_[p.file].line(p.line));
  line = line.substr(0, line.find("//"));
  std::size_t comma = line.rfind(',');
  return comma == std::string::npos ? std::string() : trim(std::string_view(line).substr(comma + 1));
}

void Debugger::info_frame() {
  if (!e_.inspectable() || frames().empty()) {
    say("No stack.\n");
    return;
  }
  const FrameInfo& f = frames_[selected_];
  say("Frame #" + std::to_string(selected_) + ": " + std::string(f.procedure) + " at " + where(f.piece) + "\n");
  if (selected_ + 1 < frames_.size())
    say(" called from " + where(frames_[selected_ + 1].piece) + " (in " + std::string(frames_[selected_ + 1].procedure) +
        ")\n");
  std::vector<Slot> slots;
  if (in_start_up(selected_)) {
    say(" the code that calls the main procedure: no procedure's record\n");
    return;
  }
  if (!frame_slots(selected_, slots)) {
    say(" its record is not built yet (the entry code has not run)\n");
    return;
  }
  uint32_t link = 0, saved = 0, ret = 0;
  if (!e_.word(f.fp + 8, link) || !e_.word(f.fp, saved) || !e_.word(f.fp + 4, ret)) {
    say(" its record cannot be read\n");
    return;
  }
  say(" frame pointer " + qv::spim::hex(f.fp) + ", static link " + qv::spim::hex(link) + ", saved frame pointer " +
      qv::spim::hex(saved) + ", return address " + qv::spim::hex(ret) + "\n");
  for (const Slot& s : slots) {
    uint32_t v = 0;
    std::string val = e_.word(s.addr, v) ? std::to_string(static_cast<int32_t>(v)) : "?";
    say(std::string(s.argument ? " argument " : " local ") + s.name + " = " + val + "\n");
  }
}

bool Debugger::in_start_up(std::size_t frame) {
  return frame < frames().size() && entry_of(frames_[frame].piece) < 0;
}

bool Debugger::frame_slots(std::size_t frame, std::vector<Slot>& slots) {
  slots.clear();
  frames();
  if (frame >= frames_.size()) return false;
  const FrameInfo& f = frames_[frame];
  int32_t entry = entry_of(f.piece);
  if (entry < 0 || (frame == 0 && entry == e_.piece())) return false;
  // Displacement d of this record lies at fp + 4 - 4d.
  auto slot = [&](bool argument, int32_t d) {
    slots.push_back({"var 0, " + std::to_string(d), argument, f.fp + 4 - 4 * static_cast<uint32_t>(d)});
  };
  for (int32_t i = 1; i <= local_count(entry); i++) slot(false, i + 1);
  for (int32_t k = 1; k <= argument_count(entry); k++) slot(true, -15 - k);
  return true;
}

const std::vector<FrameInfo>& Debugger::frames() {
  if (!frames_known_) {
    frames_ = e_.inspectable() ? e_.backtrace() : std::vector<FrameInfo>{};
    frames_known_ = true;
  }
  return frames_;
}

void Debugger::forget_frames() {
  selected_ = 0;
  frames_known_ = false;
}

bool Debugger::select(std::size_t k) {
  if (k >= frames().size()) return false;
  selected_ = k;
  return true;
}

}  // namespace qv::debug
