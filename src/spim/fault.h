// What went wrong in a run, and where in the assembly: the trap handler's
// record and SPIM's own run-time messages, decoded.  quorvelin-run and the
// debugger both name lines through this.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "emit/marks.h"

namespace qv::spim {

// The first word of a line after its label ("div" of "\t\t\tdiv $9, $9, $10").
std::string_view mnemonic(std::string_view line);

// The addresses of the marked assembly's labels, as SPIM placed them.
class AddressMap {
 public:
  // `table`: one address per label of `a` (empty when unknown).
  AddressMap(const MarkedAssembly& a, std::string_view plain, const std::vector<uint32_t>& table)
      : a_(a), plain_(plain), table_(table) {}

  // The translation's line (0-based) whose code holds `addr`, or -1.
  int32_t line_of(uint32_t addr) const;
  // The mnemonic of the translation's line `line` ("" for -1).
  std::string_view mnemonic_of(int32_t line) const;

 private:
  const MarkedAssembly& a_;
  std::string_view plain_;
  const std::vector<uint32_t>& table_;
};

// The exception handler's record.
struct Record {
  uint32_t cause = 0, epc = 0, bad = 0, ra = 0, fp = 0, sp = 0;
};

struct Fault {
  enum class Kind : uint8_t {
    at,         // an instruction failed: `at` (and `from` when it is in a routine)
    bad_call,   // a call went to an address without code: `at` is the call
    bad_jump,   // a jump went there and no call is known
  };
  Kind kind = Kind::at;
  std::string what;  // "division by zero", "call of address 0x00000000, which holds no procedure", ...
  int32_t at = -1;    // the translation's line, -1: none known
  int32_t from = -1;  // the line that called the routine holding `at` ($ra - 4)
  uint32_t epc = 0;
};

Fault decode(const Record& r, const AddressMap& m);

// One activation record of the chain.
struct Frame {
  uint32_t fp = 0;      // its frame pointer
  uint32_t ra = 0;      // where it returns to
  uint32_t caller = 0;  // the caller's frame pointer (saved in this frame)
  int32_t call = -1;    // the translation's line of the call that made it (ra - 4), -1: none known
};

// The frames from `fp` outward, innermost first, from the words the handler
// found there (`chain`: per frame the caller's frame pointer and the return
// address).
std::vector<Frame> frames_of(uint32_t fp, const std::vector<uint32_t>& chain, const AddressMap& m);

// One of SPIM's own messages on standard error after the program started.
struct SpimError {
  enum class Kind : uint8_t { stack, no_instruction, syscall, other };
  Kind kind = Kind::other;
  std::string text;   // stack: the size it could not grow to; syscall: its number; other: the line
  uint32_t addr = 0;  // no_instruction: where
};

std::vector<SpimError> spim_errors(std::string_view err);

std::string hex(uint32_t v);

// The number SPIM's command mode prints after "= 0x": "Reg 31 =
// 0x0040015c (4194652)", "PC = 0x004000b0 (...)", "Data seg @ 0x10010000
// (268500992) = 0x0020000a (2097162)".
bool value_after_equals(std::string_view s, uint32_t& v);

// The trap handler's report as it came on its control descriptor: the
// record (6 words), the addresses of `labels` labels, then the frame chain
// (pairs of words).  False when `c` is shorter than the record; the table
// and the chain are read only when the whole table is there (`complete`).
bool read_report(std::string_view c, std::size_t labels, uint32_t (&record)[6], std::vector<uint32_t>& table,
                 std::vector<uint32_t>& chain, bool& complete);

}  // namespace qv::spim
