// A camera's JPEG frames: telling a whole one, and completing one that
// leaves out its Huffman tables, as many cameras do.
#pragma once

#include <cstddef>
#include <opencv2/core/mat.hpp>
#include <optional>

// Where the parts of a whole JPEG image lie.
struct JpegLayout {
  std::size_t firstScan;  // where its first scan (SOS) starts
  std::size_t end;        // just past its EOI; what follows is padding
  bool hasTables;         // whether Huffman tables come before that scan
};

// The layout of data when it is a whole JPEG image: SOI, a frame header
// that gives a size and its components, a scan and EOI, each segment
// within data. Nothing when it is not. What the scan's data holds is not
// looked at: damage there decodes as a damaged picture.
std::optional<JpegLayout> jpegLayoutOf(const unsigned char* data,
                                       std::size_t size);

// The layout of the JPEG image a capture gave as a row of bytes, as above.
std::optional<JpegLayout> jpegLayoutOf(const cv::Mat& frame);

// The image as a viewer can decode it, as a row of bytes: data up to its
// EOI, with the standard Huffman tables put before its first scan where it
// has none.
void completeJpeg(const unsigned char* data, const JpegLayout& layout,
                  cv::Mat& image);
