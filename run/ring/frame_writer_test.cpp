#include "run/ring/frame_writer.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

ImageFormat formatOf(const std::string& name) {
  return std::get<ImageFormat>(chooseImageFormat(name.c_str()));
}

TEST(ImageFormat, ChosenOnceAndProvedWithAColourFrame) {
  for (const char* name : {"f.png", "f.bmp", "f.tiff"})
    EXPECT_EQ(formatOf(name).encoding, Encoding::InMemory) << name;
  for (const char* name : {"f.jpg", "f.JPEG", "f.jpe"})
    EXPECT_EQ(formatOf(name).encoding, Encoding::Jpeg) << name;
  EXPECT_EQ(formatOf("f.JP2").encoding, Encoding::ThroughFile);
  EXPECT_EQ(formatOf("a.b/f.png").extension, ".png");
  auto problem = [](const char* name) {
    return std::get<FormatProblem>(chooseImageFormat(name));
  };
  EXPECT_EQ(problem("f.xyz"), FormatProblem::NoWriter);
  for (const char* name : {"f.pgm", "f.pbm", "f.exr"})
    EXPECT_EQ(problem(name), FormatProblem::RefusesFrames) << name;
}

TEST(JpegSlots, AsGoodAsTheLibrarysWriterAndBaselineJfif) {
  // Smooth colour gradients with a little noise, where a coarser DCT than
  // the library's would show; the same in grey; and a frame cut out of a
  // wider one, whose rows are not next to each other.
  cv::Mat wide(480, 800, CV_8UC3);
  for (int y = 0; y < wide.rows; ++y)
    for (int x = 0; x < wide.cols; ++x)
      wide.at<cv::Vec3b>(y, x) = cv::Vec3b(x % 256, y % 256, (x + y) / 5 % 256);
  cv::Mat noise(wide.size(), CV_8UC3);
  cv::randn(noise, 0, 2);
  wide += noise;
  cv::Mat grey;
  cv::cvtColor(wide, grey, cv::COLOR_BGR2GRAY);
  cv::cvtColor(grey, grey, cv::COLOR_GRAY2BGR);
  for (const cv::Mat& frame : {wide, grey, wide(cv::Rect(13, 7, 640, 360))}) {
    SlotCommit commit("");
    FrameWriter writer(formatOf("f.jpg"), commit);
    EncodedFrame encoded;
    ASSERT_TRUE(writer.encode("f.jpg", frame, encoded).written());
    const std::vector<unsigned char>& ours = encoded.bytes();
    std::vector<unsigned char> theirs;
    ASSERT_TRUE(cv::imencode(".jpg", frame, theirs));
    cv::Mat decoded = cv::imdecode(ours, cv::IMREAD_COLOR);
    ASSERT_EQ(decoded.size(), frame.size());
    EXPECT_GE(cv::PSNR(frame, decoded),
              cv::PSNR(frame, cv::imdecode(theirs, cv::IMREAD_COLOR)) - 0.5);
    EXPECT_NEAR(static_cast<double>(ours.size()),
                static_cast<double>(theirs.size()), theirs.size() * 0.02);
    // JFIF's APP0 first, and a baseline frame header.
    ASSERT_GT(ours.size(), 11u);
    EXPECT_EQ(std::string(ours.begin() + 6, ours.begin() + 11),
              std::string("JFIF\0", 5));
    std::size_t at = 2;
    while (at + 4 < ours.size() && ours[at + 1] != 0xDA && ours[at + 1] != 0xC0)
      at += 2 + (ours[at + 2] << 8 | ours[at + 3]);
    EXPECT_EQ(ours[at + 1], 0xC0);
  }
}

TEST(ImageFormat, FileOnlyWritersAreProvedInTheSlotsDirectory) {
  char pattern[] = "/tmp/image_format_test.XXXXXX";
  std::string directory = mkdtemp(pattern);
  // The library's own temporary directory is not needed, nor used.
  setenv("OPENCV_TEMP_PATH", "/nonexistent", 1);
  for (const char* extension : {"jp2", "hdr", "pfm", "ras", "sr"}) {
    std::string name = directory + "/f000." + extension;
    EXPECT_EQ(formatOf(name).encoding, Encoding::ThroughFile) << extension;
  }
  unsetenv("OPENCV_TEMP_PATH");
  EXPECT_TRUE(fs::is_empty(directory));
  fs::remove_all(directory);
}

}  // namespace
