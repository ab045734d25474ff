// A libFuzzer target for the check of a camera's JPEG frames: whatever
// frame the check takes decodes, completed as a JPEG slot is written,
// without error to the size the camera was set to, with OpenCV as the
// other slot formats decode it and with TurboJPEG.
#include <turbojpeg.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <opencv2/imgcodecs.hpp>
#include <optional>
#include <vector>

#include "run/source/camera_jpeg.h"

namespace {

// Frames up to 640x480, so that each decode stays quick.
constexpr int MAX_PIXELS = 640 * 480;

[[noreturn]] void fail(const char* what, int width, int height) {
  std::fprintf(stderr, "A %dx%d frame taken by the check %s\n", width, height,
               what);
  std::abort();
}

}  // namespace

// The input: the camera's width and height, two bytes each with the most
// significant first, then the frame.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  int width = data[0] << 8 | data[1], height = data[2] << 8 | data[3];
  if (long{width} * height > MAX_PIXELS) return 0;
  cv::Mat frame(1, static_cast<int>(size - 4), CV_8UC1,
                const_cast<uint8_t*>(data + 4));
  std::optional<JpegLayout> layout = cameraJpegLayout(frame, width, height);
  if (!layout) return 0;
  cv::Mat image;
  completeJpeg(data + 4, *layout, image);

  cv::Mat picture;
  try {
    picture =
        cv::imdecode(image, cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
  } catch (const cv::Exception&) {
  }
  if (picture.cols != width || picture.rows != height)
    fail("does not decode with OpenCV", width, height);

  static tjhandle decompressor = tjInitDecompress();
  std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 3);
  if (tjDecompress2(decompressor, image.ptr<unsigned char>(), image.total(),
                    pixels.data(), width, 0, height, TJPF_BGR, 0) != 0 &&
      tjGetErrorCode(decompressor) == TJERR_FATAL)
    fail(tjGetErrorStr2(decompressor), width, height);
  return 0;
}
