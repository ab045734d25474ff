#include "cli/run_settings.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string nameFor(int width, int index, const char* base = "f",
                    const char* extension = "jpg") {
  RunSettings settings;
  setDefaultSettings(settings);
  makeNamePattern(width, settings.namePattern);
  snprintf(settings.outputBase, sizeof settings.outputBase, "%s", base);
  snprintf(settings.extension, sizeof settings.extension, "%s", extension);
  char name[64];
  if (formatOutputName(settings, index, name, sizeof name) < 0) return "<none>";
  return name;
}

TEST(NamePattern, EmbedsTheWidthAsWritten) {
  char pattern[NAME_PATTERN_SIZE];
  makeNamePattern(3, pattern);
  EXPECT_STREQ(pattern, "%s%03d.%s");
  makeNamePattern(0, pattern);
  EXPECT_STREQ(pattern, "%s%00d.%s");
  makeNamePattern(-2, pattern);
  EXPECT_STREQ(pattern, "%s%0-2d.%s");
  makeNamePattern(INT32_MIN, pattern);  // the longest form fits whole
  EXPECT_STREQ(pattern, "%s%0-2147483648d.%s");
}

TEST(OutputName, DefaultsGiveTheElevenNames) {
  EXPECT_EQ(nameFor(3, 0), "f000.jpg");
  EXPECT_EQ(nameFor(3, 7), "f007.jpg");
  EXPECT_EQ(nameFor(3, 10), "f010.jpg");
}

TEST(OutputName, WidthIsAMinimumCountingTheSign) {
  EXPECT_EQ(nameFor(3, 1234), "f1234.jpg");
  EXPECT_EQ(nameFor(3, -5), "f-05.jpg");
  EXPECT_EQ(nameFor(0, 7), "f7.jpg");
  EXPECT_EQ(nameFor(-2, 5), "f5 .jpg");  // minus flag: left-justified
  EXPECT_EQ(nameFor(1, INT32_MIN), "f-2147483648.jpg");
}

TEST(OutputName, BaseAndExtensionAreUsedUnchanged) {
  EXPECT_EQ(nameFor(3, 0, "f", ".png"), "f000..png");
  EXPECT_EQ(nameFor(3, 0, "out/run1_"), "out/run1_000.jpg");
}

TEST(OutputName, RefusesANameLongerThanItsBuffer) {
  RunSettings settings;
  setDefaultSettings(settings);
  char name[9];
  EXPECT_EQ(formatOutputName(settings, 7, name, sizeof name), 8);  // f007.jpg
  EXPECT_EQ(formatOutputName(settings, 1000, name, sizeof name), -1);
  makeNamePattern(INT32_MAX, settings.namePattern);
  char large[4096];
  EXPECT_EQ(formatOutputName(settings, 0, large, sizeof large), -1);
}

}  // namespace
