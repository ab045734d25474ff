// A camera's JPEG frames: telling a whole one that libjpeg decodes, and
// completing one that leaves out its Huffman tables, as many cameras do.
#pragma once

#include <cstddef>
#include <opencv2/core/mat.hpp>
#include <optional>

// Where the parts of a whole JPEG image lie.
struct JpegLayout {
  std::size_t firstScan;   // where its first scan (SOS) starts
  std::size_t end;         // just past its EOI; what follows is padding
  bool hasTables;          // whether Huffman tables come before that scan
  unsigned width, height;  // as its frame header states them
};

// The layout of data when it is a whole JPEG image that libjpeg decodes,
// completed as completeJpeg does, to the size its frame header states:
// SOI, segments that libjpeg takes, each within data and each table
// defined before a scan uses it, one frame header of a kind it decodes,
// scans that fit that frame, and EOI. Nothing when it is not. What a
// scan's data holds is not looked at: damage there decodes as a damaged
// picture, of that size.
std::optional<JpegLayout> jpegLayoutOf(const unsigned char* data,
                                       std::size_t size);

// The layout of the JPEG image a camera gave as a row of bytes, as above,
// when it also states the size width x height that the camera was set to.
std::optional<JpegLayout> cameraJpegLayout(const cv::Mat& frame, int width,
                                           int height);

// The image as a viewer can decode it, as a row of bytes: data up to its
// EOI, with the standard Huffman tables put before its first scan where it
// has none.
void completeJpeg(const unsigned char* data, const JpegLayout& layout,
                  cv::Mat& image);
