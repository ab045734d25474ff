// Writing a frame into a slot of the ring: encoded in memory, written to a
// hidden temporary beside the slot and renamed over it, so that a reader
// opening the slot gets the whole previous image or the whole new one.
#pragma once

#include <sys/types.h>

#include <opencv2/core/mat.hpp>
#include <vector>

// Results of checkImageFormat.
constexpr int FORMAT_OK = 0;
constexpr int NO_IMAGE_WRITER = 1;        // the extension selects no writer
constexpr int WRITER_REFUSES_FRAMES = 2;  // it cannot encode colour frames

// Results of writeSlot besides 0 and errno values.
constexpr int SLOT_IS_INPUT = -1;    // the slot is the video being read
constexpr int ENCODING_FAILED = -2;  // the image writer refused the frame

struct FrameWriter {
  mode_t createMode;  // what a plain create gives: 0666 less the umask
  bool guardsInput;   // whether inputDevice and inputInode name a file
  dev_t inputDevice;
  ino_t inputInode;
  std::vector<unsigned char> encoded;  // kept from frame to frame
};

// Prepares writer. inputPath names the video being read, which no slot may
// replace; it may be null or name nothing. Reads the umask, so call it
// before any other thread runs.
void setUpFrameWriter(FrameWriter& writer, const char* inputPath);

// Proves that the extension of name selects a writer that can encode the
// frames a capture gives (8-bit, 3 channels) by encoding a small one.
int checkImageFormat(const char* name);

// Encodes frame in the format that the extension of name selects and puts
// it in place as name. A failure leaves name as it was and no temporary
// behind. Returns 0, an errno value, SLOT_IS_INPUT or ENCODING_FAILED.
int writeSlot(FrameWriter& writer, const char* name, const cv::Mat& frame);

// The reason text for a result of writeSlot other than 0.
const char* describeWriteFailure(int result);
