#include "cli/printable.h"

#include <gtest/gtest.h>

namespace {

TEST(Printable, ControlCharactersAreWrittenOut) {
  EXPECT_EQ(printable("http://h/\x1b]0;PWNED\a\x1b[31mRED"),
            "http://h/\\x1b]0;PWNED\\x07\\x1b[31mRED");
  EXPECT_EQ(printable("a\nFAKE: b\tc\rd\x7f"), "a\\nFAKE: b\\tc\\rd\\x7f");
  // C1 controls, as CSI, whether in UTF-8 or as bytes of their own.
  EXPECT_EQ(printable("a\xc2\x9b"
                      "2Jb\x9b"
                      "31m"),
            "a\\u009b2Jb\\x9b31m");
  // Letters of any language stay as they are.
  EXPECT_EQ(
      printable("f\xc3\xa9te/vid\xc3\xa9o \xe6\x98\xa0\xf0\x9f\x8e\xa5.mp4"),
      "f\xc3\xa9te/vid\xc3\xa9o \xe6\x98\xa0\xf0\x9f\x8e\xa5.mp4");
}

}  // namespace
