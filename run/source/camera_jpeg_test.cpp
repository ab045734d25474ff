#include "run/source/camera_jpeg.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// A JPEG of the kind cameras give: libjpeg with its standard tables.
Bytes cameraImage() {
  cv::Mat picture(48, 64, CV_8UC3);
  cv::randu(picture, 0, 255);
  Bytes image;
  cv::imencode(".jpg", picture, image);
  return image;
}

// The image without its DHT segments, as many cameras send it.
Bytes withoutTables(const Bytes& image) {
  Bytes bare(image.begin(), image.begin() + 2);
  std::size_t at = 2;
  while (image[at + 1] != 0xDA) {
    std::size_t length = 2 + (image[at + 2] << 8 | image[at + 3]);
    if (image[at + 1] != 0xC4)
      bare.insert(bare.end(), image.begin() + at, image.begin() + at + length);
    at += length;
  }
  bare.insert(bare.end(), image.begin() + at, image.end());
  return bare;
}

bool isWhole(const Bytes& data) {
  return jpegLayoutOf(data.data(), data.size()).has_value();
}

TEST(CameraJpeg, WholeImagesPassAndPaddingIsLeftOut) {
  Bytes image = cameraImage();
  auto layout = jpegLayoutOf(image.data(), image.size());
  ASSERT_TRUE(layout);
  EXPECT_TRUE(layout->hasTables);
  EXPECT_EQ(layout->end, image.size());

  Bytes padded = image;
  padded.resize(image.size() + 4096, 0);  // as some cameras fill a buffer
  cv::Mat written;
  completeJpeg(padded.data(), *jpegLayoutOf(padded.data(), padded.size()),
               written);
  EXPECT_EQ(Bytes(written.datastart, written.dataend), image);
}

TEST(CameraJpeg, StandardTablesRestoreTheImageByteForByte) {
  Bytes image = cameraImage();
  Bytes bare = withoutTables(image);
  auto layout = jpegLayoutOf(bare.data(), bare.size());
  ASSERT_TRUE(layout);
  EXPECT_FALSE(layout->hasTables);
  cv::Mat completed;
  completeJpeg(bare.data(), *layout, completed);
  EXPECT_EQ(Bytes(completed.datastart, completed.dataend), image);
}

TEST(CameraJpeg, BrokenImagesAreRefused) {
  Bytes image = cameraImage();
  for (std::size_t cut : {image.size() - 1, image.size() - 2, image.size() / 2,
                          std::size_t{300}, std::size_t{3}})
    EXPECT_FALSE(isWhole(Bytes(image.begin(), image.begin() + cut))) << cut;

  Bytes noStart = image;
  noStart[1] = 0xD9;
  EXPECT_FALSE(isWhole(noStart));

  // A segment whose length runs past the end, and a scan with no frame
  // header before it.
  Bytes overlong = image;
  overlong[4] = 0xFF;
  EXPECT_FALSE(isWhole(overlong));
  Bytes noFrame = {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02, 0x12, 0xFF, 0xD9};
  EXPECT_FALSE(isWhole(noFrame));

  // A frame header with no height, or fewer components than its length
  // says: libjpeg refuses both.
  std::size_t header = 2;
  while (image[header + 1] != 0xC0)
    header += 2 + (image[header + 2] << 8 | image[header + 3]);
  Bytes noHeight = image;
  noHeight[header + 5] = noHeight[header + 6] = 0;
  EXPECT_FALSE(isWhole(noHeight));
  cv::Mat decoded = cv::imdecode(noHeight, cv::IMREAD_COLOR);
  EXPECT_TRUE(decoded.empty());
  Bytes fewerComponents = image;
  fewerComponents[header + 9] = 2;
  EXPECT_FALSE(isWhole(fewerComponents));

  Bytes zeros(image.size(), 0);
  EXPECT_FALSE(isWhole(zeros));
  EXPECT_FALSE(isWhole({}));
}

}  // namespace
