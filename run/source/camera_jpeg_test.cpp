#include "run/source/camera_jpeg.h"

#include <gtest/gtest.h>

#include <functional>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// A JPEG of the kind cameras give: libjpeg with its standard tables, in
// colour at 4:2:0 unless parameters or grey ask otherwise.
Bytes cameraImage(const std::vector<int>& parameters = {}, bool grey = false) {
  cv::Mat picture(48, 64, grey ? CV_8UC1 : CV_8UC3);
  cv::randu(picture, 0, 255);
  Bytes image;
  cv::imencode(".jpg", picture, image, parameters);
  return image;
}

// Where the nth segment of marker starts (at its 0xFF), in the headers
// before the first scan, or at the first scan itself.
std::size_t segment(const Bytes& image, unsigned char marker, int nth = 0) {
  std::size_t at = 2;
  while (image[at + 1] != marker || nth-- > 0) {
    if (image[at + 1] == 0xDA) return std::string::npos;
    at += 2 + (image[at + 2] << 8 | image[at + 3]);
  }
  return at;
}

// The segment of marker's body, past its length.
unsigned char* body(Bytes& image, unsigned char marker, int nth = 0) {
  return image.data() + segment(image, marker, nth) + 4;
}

Bytes segmentBytes(const Bytes& image, std::size_t at) {
  return Bytes(image.begin() + at,
               image.begin() + at + 2 + (image[at + 2] << 8 | image[at + 3]));
}

// The decoded picture, empty where the library refuses the image.
cv::Mat decoded(const Bytes& image) {
  try {
    return cv::imdecode(image,
                        cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
  } catch (const cv::Exception&) {
    return cv::Mat();
  }
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

struct Variant {
  const char* name;
  std::function<void(Bytes&)> patch;  // of the 64x48 colour image
};

// Headers that libjpeg refuses to decode, each from a real image: the check
// refuses them too, and no viewer gets them.
TEST(CameraJpeg, HeadersThatLibjpegRefusesAreRefused) {
  const Variant variants[] = {
      {"no DQT",
       [](Bytes& image) {
         while (segment(image, 0xDB) != std::string::npos) {
           std::size_t at = segment(image, 0xDB);
           image.erase(image.begin() + at,
                       image.begin() + at + segmentBytes(image, at).size());
         }
       }},
      {"precision 0", [](Bytes& image) { body(image, 0xC0)[0] = 0; }},
      {"precision 12", [](Bytes& image) { body(image, 0xC0)[0] = 12; }},
      {"undefined quantisation table",
       [](Bytes& image) { body(image, 0xC0)[8] = 2; }},
      {"quantisation table 4", [](Bytes& image) { body(image, 0xC0)[8] = 4; }},
      {"sampling factor 0", [](Bytes& image) { body(image, 0xC0)[7] = 0x20; }},
      {"sampling factor 5", [](Bytes& image) { body(image, 0xC0)[7] = 0x52; }},
      {"sampling factors 3 and 2",  // libjpeg upsamples by whole factors
       [](Bytes& image) {
         body(image, 0xC0)[7] = 0x31;
         body(image, 0xC0)[10] = 0x21;
       }},
      {"MCU of 18 blocks", [](Bytes& image) { body(image, 0xC0)[7] = 0x44; }},
      {"lossless SOF3",
       [](Bytes& image) { image[segment(image, 0xC0) + 1] = 0xC3; }},
      {"hierarchical SOF5",
       [](Bytes& image) { image[segment(image, 0xC0) + 1] = 0xC5; }},
      {"two SOFs",
       [](Bytes& image) {
         std::size_t at = segment(image, 0xC0);
         Bytes sof = segmentBytes(image, at);
         image.insert(image.begin() + at, sof.begin(), sof.end());
       }},
      {"scan of a component not in the frame",
       [](Bytes& image) { body(image, 0xDA)[1] = 9; }},
      {"scan of one component twice",
       [](Bytes& image) { body(image, 0xDA)[3] = body(image, 0xDA)[1]; }},
      {"scan of components out of the frame's order",
       [](Bytes& image) {
         std::swap(body(image, 0xDA)[3], body(image, 0xDA)[5]);
       }},
      {"scan with an undefined Huffman table",
       [](Bytes& image) { body(image, 0xDA)[2] = 0x22; }},
      {"scan of more components than its length holds",
       [](Bytes& image) { body(image, 0xDA)[0] = 4; }},
      {"DHT with more codes of a length than fit",
       [](Bytes& image) { body(image, 0xC4)[2] = 3; }},  // 3 codes of 2 bits
      {"DHT with more symbols than its length",
       [](Bytes& image) { body(image, 0xC4)[16] = 200; }},
      {"DHT for table 4", [](Bytes& image) { body(image, 0xC4)[0] = 0x04; }},
      {"DC symbol over 15", [](Bytes& image) { body(image, 0xC4)[17] = 16; }},
  };
  const Bytes image = cameraImage();
  for (const Variant& variant : variants) {
    Bytes damaged = image;
    variant.patch(damaged);
    EXPECT_FALSE(isWhole(damaged)) << variant.name;
    EXPECT_TRUE(decoded(damaged).empty()) << variant.name;
  }
  // The smallest such frame: no DQT, and a scan header with no components.
  const Bytes tiny = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x0B, 0x08,
                      0x00, 0x01, 0x00, 0x01, 0x01, 0x01, 0x11,
                      0x00, 0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xD9};
  EXPECT_FALSE(isWhole(tiny));
  EXPECT_TRUE(decoded(tiny).empty());
}

// Headers that libjpeg decodes, some unusual: the check takes them, and
// they decode to the size they state.
TEST(CameraJpeg, HeadersThatLibjpegDecodesAreTaken) {
  struct Case {
    const char* name;
    Bytes image;
  };
  std::vector<Case> cases = {
      {"progressive", cameraImage({cv::IMWRITE_JPEG_PROGRESSIVE, 1})},
      {"restart markers", cameraImage({cv::IMWRITE_JPEG_RST_INTERVAL, 2})},
      {"optimised tables", cameraImage({cv::IMWRITE_JPEG_OPTIMIZE, 1})},
      {"grey", cameraImage({}, true)},
  };
  const Variant variants[] = {
      // Some encoders leave these zero: libjpeg decodes the scan anyway.
      {"sequential scan with no band",
       [](Bytes& image) {
         unsigned char* scan = body(image, 0xDA);
         scan[7] = scan[8] = 0;
       }},
      {"extended SOF1",
       [](Bytes& image) { image[segment(image, 0xC0) + 1] = 0xC1; }},
      {"16-bit quantisation table",
       [](Bytes& image) {
         std::size_t at = segment(image, 0xDB);
         Bytes table = segmentBytes(image, at);
         Bytes wide = {0xFF, 0xDB, 0x00, 2 + 1 + 128, 0x10};
         for (std::size_t i = 5; i < table.size(); ++i)
           wide.insert(wide.end(), {0, table[i]});
         image.erase(image.begin() + at, image.begin() + at + table.size());
         image.insert(image.begin() + at, wide.begin(), wide.end());
       }},
      {"unused Huffman table 3 defined",
       [](Bytes& image) {
         std::size_t at = segment(image, 0xC4);
         Bytes table = segmentBytes(image, at);
         table[4] = 0x03;
         image.insert(image.begin() + at, table.begin(), table.end());
       }},
  };
  for (const Variant& variant : variants) {
    Bytes image = cameraImage();
    variant.patch(image);
    cases.push_back({variant.name, image});
  }
  for (const Case& taken : cases) {
    for (bool tables : {true, false}) {
      Bytes frame = tables ? taken.image : withoutTables(taken.image);
      auto layout = jpegLayoutOf(frame.data(), frame.size());
      ASSERT_TRUE(layout) << taken.name << ", tables " << tables;
      cv::Mat completed;
      completeJpeg(frame.data(), *layout, completed);
      cv::Mat picture = decoded(Bytes(completed.datastart, completed.dataend));
      EXPECT_EQ(picture.cols, 64) << taken.name;
      EXPECT_EQ(picture.rows, 48) << taken.name;
      EXPECT_EQ(layout->width, 64u);
      EXPECT_EQ(layout->height, 48u);
    }
  }
}

// A frame must state the size the camera was set to: one that claims a
// larger one would decode to a picture of that size.
TEST(CameraJpeg, FramesOfAnotherSizeThanTheCameraAreRefused) {
  Bytes image = cameraImage();
  cv::Mat frame(1, static_cast<int>(image.size()), CV_8UC1, image.data());
  EXPECT_TRUE(cameraJpegLayout(frame, 64, 48));
  EXPECT_FALSE(cameraJpegLayout(frame, 48, 64));
  unsigned char* header = body(image, 0xC0);
  header[1] = header[3] = 0x40;  // 16384 x 16384
  header[2] = header[4] = 0;
  EXPECT_TRUE(isWhole(image));
  EXPECT_FALSE(cameraJpegLayout(frame, 64, 48));
}

}  // namespace
