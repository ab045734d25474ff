#include "run/frame_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class FrameWriterTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/frame_writer_test.XXXXXX";
    directory = mkdtemp(pattern);
    previousMask = umask(022);
    setUpFrameWriter(writer, nullptr);
  }
  void TearDown() override {
    umask(previousMask);
    fs::remove_all(directory);
  }

  std::string path(const char* name) { return directory + "/" + name; }
  std::vector<std::string> entries() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory))
      names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  static cv::Mat frame(int shade) {
    return cv::Mat(48, 64, CV_8UC3, cv::Scalar(shade, 255 - shade, 90));
  }
  static mode_t modeOf(const std::string& name) {
    struct stat status;
    return stat(name.c_str(), &status) == 0 ? status.st_mode & 0777 : 0;
  }

  std::string directory;
  mode_t previousMask;
  FrameWriter writer;
};

TEST_F(FrameWriterTest, ReplacesTheSlotWithTheWholeNewImage) {
  std::string slot = path("f000.png");
  ASSERT_EQ(writeSlot(writer, slot.c_str(), frame(10)), 0);
  EXPECT_EQ(modeOf(slot), 0644u);  // as a plain create under umask 022
  chmod(slot.c_str(), 0600);
  ASSERT_EQ(writeSlot(writer, slot.c_str(), frame(200)), 0);
  cv::Mat read = cv::imread(slot, cv::IMREAD_UNCHANGED);
  EXPECT_EQ(cv::norm(read, frame(200), cv::NORM_INF), 0);
  EXPECT_EQ(modeOf(slot), 0600u);  // a replaced file keeps its permissions
  EXPECT_EQ(entries(), std::vector<std::string>{"f000.png"});
}

TEST_F(FrameWriterTest, ReplacesALinkInsteadOfWritingThroughIt) {
  std::string target = path("target");
  std::ofstream(target) << "not a frame";
  ASSERT_EQ(symlink(target.c_str(), path("f000.jpg").c_str()), 0);
  ASSERT_EQ(writeSlot(writer, path("f000.jpg").c_str(), frame(10)), 0);
  EXPECT_EQ(fs::file_size(target), 11u);
  EXPECT_FALSE(fs::is_symlink(path("f000.jpg")));
}

TEST(ImageFormat, ProvedWithAColourFrame) {
  for (const char* name : {"f.jpg", "f.png", "f.bmp", "f.tiff", "f.jp2"})
    EXPECT_EQ(checkImageFormat(name), FORMAT_OK) << name;
  EXPECT_EQ(checkImageFormat("f.xyz"), NO_IMAGE_WRITER);
  for (const char* name : {"f.pgm", "f.pbm", "f.exr"})
    EXPECT_EQ(checkImageFormat(name), WRITER_REFUSES_FRAMES) << name;
}

}  // namespace
