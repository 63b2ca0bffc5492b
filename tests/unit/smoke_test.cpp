#include <gtest/gtest.h>

#include "support.h"

using qv::test::lines;

TEST(Smoke, LabelLineWritesNop) { EXPECT_EQ(lines("L2:\n").out, "L2:\t\t nop\n"); }
