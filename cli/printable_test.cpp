#include "cli/printable.h"

#include <gtest/gtest.h>

namespace {

TEST(Printable, ControlCharactersAreWrittenOut) {
  EXPECT_EQ(printable("http://h/\x1b]0;PWNED\a\x1b[31mRED"),
            "http://h/\\x1b]0;PWNED\\x07\\x1b[31mRED");
  EXPECT_EQ(printable("a\nFAKE: b\tc\rd\x7f"), "a\\nFAKE: b\\tc\\rd\\x7f");
  // Letters of any language stay as they are.
  EXPECT_EQ(printable("f\xc3\xa9te/vid\xc3\xa9o.mp4"),
            "f\xc3\xa9te/vid\xc3\xa9o.mp4");
}

}  // namespace
