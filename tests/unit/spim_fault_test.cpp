// The fault decoder: from addresses to the translation's lines, the kind of
// fault, the frame chain, and SPIM's own messages.
#include <gtest/gtest.h>

#include <string>

#include "emit/marks.h"
#include "spim/fault.h"

namespace {

// Three instruction lines that can fault (labels __qv0..__qv2), a data
// line between them, placed as SPIM would: 0x400000, 0x400010, 0x400020.
struct Fixture {
  std::string plain =
      "\t\t\t.text\n"
      "\t\t\tlw $9, 0($10)\n"
      "\t\t\tjalr $13 \t #Jump\n"
      "\t\t\tdiv $9, $9, $10\n";
  qv::MarkedAssembly a;
  std::vector<uint32_t> table = {0x400000, 0x400010, 0x400020};
  Fixture() { qv::mark_faults(plain, a); }
};

TEST(SpimFault, AddressesMapToTheLineWhoseCodeHoldsThem) {
  Fixture f;
  ASSERT_EQ(f.a.label_line.size(), 3u);
  qv::spim::AddressMap m(f.a, f.plain, f.table);
  EXPECT_EQ(m.line_of(0x3ffffc), -1);  // before the program's lines
  EXPECT_EQ(m.line_of(0x400000), 1);
  EXPECT_EQ(m.line_of(0x40000c), 1);
  EXPECT_EQ(m.line_of(0x400014), 2);
  EXPECT_EQ(m.line_of(0x40003c), 3);
  EXPECT_EQ(m.line_of(0x400040), -1);  // far past the last line: not the program's
  EXPECT_EQ(m.mnemonic_of(2), "jalr");
  // A table that does not belong to this assembly names nothing.
  std::vector<uint32_t> short_table = {0x400000};
  EXPECT_EQ(qv::spim::AddressMap(f.a, f.plain, short_table).line_of(0x400000), -1);
}

TEST(SpimFault, KindsOfFault) {
  Fixture f;
  qv::spim::AddressMap m(f.a, f.plain, f.table);
  // A call to 0: EPC is the target, $ra 4 past the jalr.
  qv::spim::Fault call = qv::spim::decode({6 << 2, 0, 0, 0x400014, 0, 0}, m);
  EXPECT_EQ(call.kind, qv::spim::Fault::Kind::bad_call);
  EXPECT_EQ(call.at, 2);
  EXPECT_EQ(call.what, "call of address 0x00000000, which holds no procedure");
  // The same through $ra not after a call: a jump from nowhere known.
  EXPECT_EQ(qv::spim::decode({6 << 2, 8, 0, 0x400004, 0, 0}, m).kind, qv::spim::Fault::Kind::bad_jump);
  // A break in a div is a division by zero; a load from 0 a null read.
  EXPECT_EQ(qv::spim::decode({9 << 2, 0x400024, 0, 0, 0, 0}, m).what, "division by zero");
  qv::spim::Fault null = qv::spim::decode({7 << 2, 0x400000, 0, 0x400014, 0, 0}, m);
  EXPECT_EQ(null.at, 1);
  EXPECT_EQ(null.from, 2);
  EXPECT_EQ(null.what, "read from address 0x00000000, outside the program's memory (a null pointer?)");
}

TEST(SpimFault, FramesPairTheChainWithTheirFramePointers) {
  Fixture f;
  qv::spim::AddressMap m(f.a, f.plain, f.table);
  // Innermost at 0x7ff0 returning past the jalr; its caller at 0x7ff8.
  std::vector<uint32_t> chain = {0x7ff8, 0x400014, 0x7ff8, 0x400028, 0x7ff9};  // a stray last word is ignored
  std::vector<qv::spim::Frame> v = qv::spim::frames_of(0x7ff0, chain, m);
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0].fp, 0x7ff0u);
  EXPECT_EQ(v[0].call, 2);
  EXPECT_EQ(v[1].fp, 0x7ff8u);
  EXPECT_EQ(v[1].call, 3);
}

TEST(SpimFault, SpimsOwnMessages) {
  std::vector<qv::spim::SpimError> v = qv::spim::spim_errors(
      "Can't expand stack segment by 48 bytes to 524288 bytes\nUse -lstack # with # > 524288\n"
      "Attempt to execute non-instruction at 0x00400100\nUnknown system call: 99\nsomething else\n");
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[0].kind, qv::spim::SpimError::Kind::stack);
  EXPECT_EQ(v[0].text, "524288 bytes");
  EXPECT_EQ(v[1].kind, qv::spim::SpimError::Kind::no_instruction);
  EXPECT_EQ(v[1].addr, 0x400100u);
  EXPECT_EQ(v[2].text, "99");
  EXPECT_EQ(v[3].text, "something else");
}

}  // namespace
