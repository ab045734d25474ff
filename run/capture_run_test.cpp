#include "run/capture_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

CaptureSource sourceFor(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "pellux");
  return chooseSource(static_cast<int>(arguments.size()), arguments.data());
}

void expectCamera(std::vector<const char*> arguments, int index) {
  CaptureSource source = sourceFor(arguments);
  EXPECT_EQ(source.kind, SourceKind::CameraIndex);
  EXPECT_EQ(source.cameraIndex, index);
}

void expectPath(std::vector<const char*> arguments, SourceKind kind,
                const char* path) {
  CaptureSource source = sourceFor(arguments);
  EXPECT_EQ(source.kind, kind);
  EXPECT_STREQ(source.path, path);
}

void expectFile(std::vector<const char*> arguments, const char* name) {
  expectPath(arguments, SourceKind::VideoFile, name);
}

TEST(SourceChoice, CamerasByNumber) {
  expectCamera({}, 0);
  expectCamera({"2"}, 2);
  expectCamera({"9"}, 9);
}

TEST(SourceChoice, OptionsFirstMeanTheFirstCamera) {
  expectCamera({"-nd"}, 0);
  expectCamera({"-sq", "0", "99"}, 0);
  expectCamera({"", "clip.avi"}, 0);
}

TEST(SourceChoice, AnythingElseFirstIsAFile) {
  expectFile({"12"}, "12");
  expectFile({"a"}, "a");
  expectFile({"1", "out"}, "1");  // two arguments: not camera 1
  expectFile({"clip.avi", "out", "-sq", "3", "3"}, "clip.avi");
  expectFile({"/dev"}, "/dev");  // a directory is not a device
}

TEST(SourceChoice, ADeviceFirstIsACameraWithItsOptions) {
  expectPath({"/dev/null"}, SourceKind::CameraDevice, "/dev/null");
  expectPath({"/dev/null", "-nv", "-sq", "0", "99"}, SourceKind::CameraDevice,
             "/dev/null");
}

TEST(IndexCycle, RunsFromFirstToLastAndStartsAgain) {
  RunSettings settings;
  setDefaultSettings(settings);
  std::vector<int32_t> seen;
  int32_t index = settings.firstIndex;
  for (int i = 0; i < 13; ++i, index = nextIndex(index, settings))
    seen.push_back(index);
  EXPECT_EQ(seen,
            (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0, 1}));
}

TEST(IndexCycle, FirstAboveLastStaysAtFirst) {
  RunSettings settings;
  setDefaultSettings(settings);
  settings.firstIndex = 5;
  settings.lastIndex = 2;
  EXPECT_EQ(nextIndex(5, settings), 5);
}

TEST(IndexCycle, WrapsAtTheTopOfTheIntegerRange) {
  RunSettings settings;
  setDefaultSettings(settings);
  settings.firstIndex = INT32_MAX - 1;
  settings.lastIndex = INT32_MAX;
  EXPECT_EQ(nextIndex(INT32_MAX - 1, settings), INT32_MAX);
  EXPECT_EQ(nextIndex(INT32_MAX, settings), INT32_MAX - 1);
  settings.firstIndex = INT32_MAX;
  EXPECT_EQ(nextIndex(INT32_MAX, settings), INT32_MAX);
}

struct Checked {
  int result;
  std::string err;
};

Checked check(const RunSettings& settings) {
  testing::internal::CaptureStderr();
  int result = checkOutputNames(settings);
  return {result, testing::internal::GetCapturedStderr()};
}

TEST(OutputCheck, RefusesAnExtensionWithNoWriterOnlyWhenSaving) {
  RunSettings settings;
  setDefaultSettings(settings);
  snprintf(settings.extension, sizeof settings.extension, "xyz");
  Checked c = check(settings);
  EXPECT_EQ(c.result, -1);
  EXPECT_EQ(c.err, "No image writer for the extension of f000.xyz\n");
  settings.saveImages = false;
  EXPECT_EQ(check(settings).result, 0);
}

TEST(OutputCheck, RefusesNamesThatCannotBeFormed) {
  RunSettings settings;
  setDefaultSettings(settings);
  makeNamePattern(100000, settings.namePattern);
  Checked c = check(settings);
  EXPECT_EQ(c.result, -1);
  EXPECT_EQ(c.err,
            "Output file name for index 10 would be longer than 4095 "
            "characters.\n");
  settings.saveImages = false;  // names are formed for the console anyway
  EXPECT_EQ(check(settings).result, -1);
  makeNamePattern(INT32_MAX, settings.namePattern);
  c = check(settings);
  EXPECT_EQ(c.result, -1);
  EXPECT_NE(c.err.find("longer than 4095"), std::string::npos);
}

TEST(OutputCheck, LooksAtBothEndsOfTheRange) {
  RunSettings settings;
  setDefaultSettings(settings);
  makeNamePattern(4085, settings.namePattern);  // f, 4085 digits, .jpg: 4090
  settings.firstIndex = INT32_MIN;
  EXPECT_EQ(check(settings).result, 0);
  makeNamePattern(4090, settings.namePattern);  // exactly 4095 characters
  EXPECT_EQ(check(settings).result, 0);
  makeNamePattern(4091, settings.namePattern);
  Checked c = check(settings);
  EXPECT_EQ(c.result, -1);
  EXPECT_NE(c.err.find("index 10 "), std::string::npos);

  makeNamePattern(3, settings.namePattern);
  settings.firstIndex = -5;
  snprintf(settings.outputBase, sizeof settings.outputBase, "%s",
           std::string(OUTPUT_BASE_SIZE - 1, 'b').c_str());
  snprintf(settings.extension, sizeof settings.extension, "%s",
           std::string(EXTENSION_SIZE - 1, 'e').c_str());
  settings.saveImages = false;
  EXPECT_EQ(check(settings).result, 0);  // full fields still fit the name
}

}  // namespace
