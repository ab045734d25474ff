#include "run/capture_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

struct Checked {
  bool result;
  std::string err;
};

Checked check(const RunSettings& settings) {
  testing::internal::CaptureStderr();
  bool result = checkOutputNames(settings);
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

TEST(OutputCheck, ProvesFileOnlyWritersInTheSlotsDirectory) {
  char pattern[] = "/tmp/output_check_test.XXXXXX";
  std::string directory = mkdtemp(pattern);
  RunSettings settings;
  setDefaultSettings(settings);
  snprintf(settings.ring.outputBase, sizeof settings.ring.outputBase, "%s/f",
           directory.c_str());
  // The library's own temporary directory is not needed, nor used.
  setenv("OPENCV_TEMP_PATH", "/nonexistent", 1);
  for (const char* extension : {"jp2", "hdr", "pfm", "ras", "sr"}) {
    snprintf(settings.ring.extension, sizeof settings.ring.extension, "%s",
             extension);
    EXPECT_TRUE(check(settings).result) << extension;
  }
  unsetenv("OPENCV_TEMP_PATH");
  EXPECT_TRUE(std::filesystem::is_empty(directory));
  std::filesystem::remove_all(directory);
}

}  // namespace
