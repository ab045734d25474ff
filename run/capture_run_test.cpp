#include "run/capture_run.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

struct Checked {
  bool result;
  std::string err;
};

Checked check(const RunSettings& settings) {
  testing::internal::CaptureStderr();
  std::optional<ImageFormat> format;
  bool result = checkOutputNames(settings, format);
  return {result, testing::internal::GetCapturedStderr()};
}

TEST(OutputCheck, RefusesAnExtensionWithNoWriterOnlyWhenSaving) {
  RunSettings settings;
  setDefaultSettings(settings);
  snprintf(settings.ring.extension, sizeof settings.ring.extension, "xyz");
  Checked c = check(settings);
  EXPECT_FALSE(c.result);
  EXPECT_EQ(c.err, "No image writer for the extension of f000.xyz\n");
  settings.saveImages = false;
  EXPECT_TRUE(check(settings).result);
}

TEST(OutputCheck, RefusesNamesThatCannotBeFormed) {
  RunSettings settings;
  setDefaultSettings(settings);
  settings.ring.paddingWidth = 100000;
  Checked c = check(settings);
  EXPECT_FALSE(c.result);
  EXPECT_EQ(c.err,
            "Output file name for index 10 would be longer than 4095 "
            "characters.\n");
  settings.saveImages = false;  // names are formed for the console anyway
  EXPECT_FALSE(check(settings).result);
  settings.ring.paddingWidth = 300;  // the tests run where names have 255
  EXPECT_EQ(check(settings).err,
            "Output file name for index 10 would have a part longer than 255 "
            "characters.\n");
}

}  // namespace
