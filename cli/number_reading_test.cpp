#include "cli/number_reading.h"

#include <gtest/gtest.h>

namespace {

TEST(ReadInteger, FollowsAtoiOnOrdinaryText) {
  EXPECT_EQ(readInteger("42"), 42);
  EXPECT_EQ(readInteger("  \t-17"), -17);
  EXPECT_EQ(readInteger("+8"), 8);
  EXPECT_EQ(readInteger("12abc"), 12);
  EXPECT_EQ(readInteger("abc"), 0);
  EXPECT_EQ(readInteger(""), 0);
  EXPECT_EQ(readInteger("3.9"), 3);
  EXPECT_EQ(readInteger("0x1F"), 0);  // decimal only
}

TEST(ReadInteger, SaturatesOutsideThirtyTwoBits) {
  EXPECT_EQ(readInteger("2147483647"), INT32_MAX);
  EXPECT_EQ(readInteger("-2147483648"), INT32_MIN);
  EXPECT_EQ(readInteger("2147483648"), INT32_MAX);
  EXPECT_EQ(readInteger("-2147483649"), INT32_MIN);
  EXPECT_EQ(readInteger("99999999999999999999999"), INT32_MAX);
  EXPECT_EQ(readInteger("-99999999999999999999999"), INT32_MIN);
}

}  // namespace
