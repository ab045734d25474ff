// A camera's JPEG frames: telling a whole one that decodes, completing one
// that leaves out its Huffman tables, as many cameras do, and decoding one.
#pragma once

#include <cstddef>
#include <opencv2/core/mat.hpp>
#include <optional>
#include <vector>

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
std::optional<JpegLayout> wholeJpeg(const unsigned char* data,
                                    std::size_t size);

// The layout of the JPEG image a capture gave as a row of bytes, as above.
std::optional<JpegLayout> wholeJpeg(const cv::Mat& frame);

// Whether frame, a camera's JPEG image as a row of bytes, is whole as
// above and states the size width x height that the camera was set to.
bool isWholeJpeg(const cv::Mat& frame, int width, int height);

// The image as a viewer can decode it: data up to its EOI, with the
// standard Huffman tables put before its first scan where it has none.
void completeJpeg(const unsigned char* data, const JpegLayout& layout,
                  std::vector<unsigned char>& image);

// Decodes the JPEG image in frame into picture, in colour. Returns whether
// it could.
bool decodeJpeg(const cv::Mat& frame, cv::Mat& picture);
