#include "run/ring/jpeg_codec.h"

#include <turbojpeg.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <opencv2/imgcodecs.hpp>

namespace {

// What OpenCV's JPEG writer uses unless told otherwise, with libjpeg's
// accurate DCT: TurboJPEG would take the fast one below quality 96, whose
// images are larger and show on smooth pictures.
constexpr int QUALITY = 95;
constexpr int SUBSAMPLING = TJSAMP_420;
constexpr int FLAGS = TJFLAG_ACCURATEDCT;

}  // namespace

std::unique_ptr<JpegCompressor> JpegCompressor::create() {
  tjhandle handle = tjInitCompress();
  if (handle == nullptr) return nullptr;
  return std::unique_ptr<JpegCompressor>(new JpegCompressor(handle));
}

JpegCompressor::~JpegCompressor() {
  tjFree(room_);
  tjDestroy(handle_);
}

const char* JpegCompressor::conflictingSettings() {
  auto asked = [](const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && std::strcmp(value, "1") == 0;
  };
  // Arithmetic coding has no Huffman tables to optimise.
  if (asked("TJ_ARITHMETIC") && asked("TJ_OPTIMIZE"))
    return "arithmetic coding (TJ_ARITHMETIC=1) with optimised Huffman "
           "tables (TJ_OPTIMIZE=1)";
  return nullptr;
}

bool JpegCompressor::takes(const cv::Mat& frame) {
  return frame.type() == CV_8UC3 && frame.dims == 2 && frame.cols > 0 &&
         frame.rows > 0 && frame.step[0] <= INT_MAX;
}

bool JpegCompressor::compress(const cv::Mat& frame,
                              std::vector<unsigned char>& image) {
  unsigned long needed = tjBufSize(frame.cols, frame.rows, SUBSAMPLING);
  if (needed == static_cast<unsigned long>(-1) || needed > INT_MAX)
    return false;
  if (needed > roomSize_) {
    tjFree(room_);
    roomSize_ = 0;
    room_ = tjAlloc(static_cast<int>(needed));
    if (room_ == nullptr) return false;
    roomSize_ = needed;
  }
  // The worst case fits, so TurboJPEG writes in place and never grows it.
  unsigned char* data = room_;
  unsigned long size = roomSize_;
  int failed =
      tjCompress2(handle_, frame.ptr<unsigned char>(), frame.cols,
                  static_cast<int>(frame.step[0]), frame.rows, TJPF_BGR, &data,
                  &size, SUBSAMPLING, QUALITY, FLAGS | TJFLAG_NOREALLOC);
  if (failed != 0 || data != room_ || size > roomSize_) return false;
  image.assign(room_, room_ + size);
  return true;
}

bool decodeJpeg(const cv::Mat& image, cv::Mat& picture) {
  try {
    cv::imdecode(image, cv::IMREAD_COLOR, &picture);
    return !picture.empty();
  } catch (const cv::Exception&) {
    return false;
  }
}
