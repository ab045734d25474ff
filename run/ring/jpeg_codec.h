// JPEG images: BGR frames compressed with libjpeg-turbo's TurboJPEG API
// into the image OpenCV's JPEG writer makes (quality 95, 4:2:0), without
// the row by row colour swap that writer does before handing rows to
// libjpeg; and a camera's JPEG images decoded.
#pragma once

#include <memory>
#include <opencv2/core/mat.hpp>
#include <vector>

class JpegCompressor {
 public:
  // A compressor, or null where TurboJPEG could not make one.
  static std::unique_ptr<JpegCompressor> create();
  ~JpegCompressor();
  JpegCompressor(const JpegCompressor&) = delete;
  JpegCompressor& operator=(const JpegCompressor&) = delete;

  // Whether frames of frame's kind can be compressed: 8-bit, 3 channels.
  static bool takes(const cv::Mat& frame);

  // What libjpeg-turbo's own variables ask for that cannot be done
  // together, in words that name it; null when nothing.
  static const char* conflictingSettings();

  // Compresses frame, which it takes, into image, whose memory is kept
  // from frame to frame. Returns whether it could.
  bool compress(const cv::Mat& frame, std::vector<unsigned char>& image);

 private:
  explicit JpegCompressor(void* handle) : handle_(handle) {}
  void* const handle_;  // the TurboJPEG instance
  // Room for the largest image of the frame size last compressed, so that
  // TurboJPEG never has to grow it; kept from frame to frame.
  unsigned char* room_ = nullptr;
  unsigned long roomSize_ = 0;
};

// Decodes the JPEG image in image, a row of bytes, into picture, in
// colour. Returns whether it could.
bool decodeJpeg(const cv::Mat& image, cv::Mat& picture);
