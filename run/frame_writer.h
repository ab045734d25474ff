// Writing a frame into a slot of the ring: encoded, written to a temporary
// beside the slot and swapped in, so that a reader opening the slot gets
// the whole previous image or the whole new one, and a replaced slot keeps
// its owner, permissions and ACL.
#pragma once

#include <sys/types.h>

#include <opencv2/core/mat.hpp>
#include <optional>
#include <string>
#include <vector>

#include "run/temporary_file.h"

enum class ImageFormat {
  Usable,
  NoWriter,       // the extension selects no image writer
  RefusesFrames,  // its writer cannot encode colour frames
};

// Proves that the extension of name selects a writer that can encode the
// frames a capture gives (8-bit, 3 channels) by encoding a small one.
ImageFormat checkImageFormat(const char* name);

enum class WriteFailure {
  None,
  SlotIsInput,     // the slot is the file or device being read
  EncoderRefused,  // the image writer refused the frame
  SlotChanged,     // something else took the slot's place meanwhile
  System,          // a system call failed with error
};

struct WriteResult {
  WriteFailure failure;
  int error;  // errno, for System
};

// The reason for a failed write, as a user reads it.
const char* describeWriteFailure(const WriteResult& result);

// A frame encoded for its slot and not yet in place: the image's bytes or,
// for formats encoded only into files, a hidden temporary beside the slot.
class EncodedFrame {
 public:
  std::vector<unsigned char>& bytes() { return bytes_; }

 private:
  friend class FrameWriter;
  std::vector<unsigned char> bytes_;  // kept from frame to frame
  std::optional<TemporaryFile> file_;
};

// What frames are completed with: encoding, which may run on several
// threads at once, and putting in place, on one thread in frame order.
class SlotWriter {
 public:
  virtual ~SlotWriter() = default;
  virtual WriteResult encode(const char* name, const cv::Mat& frame,
                             EncodedFrame& encoded) const = 0;
  virtual WriteResult place(const char* name, EncodedFrame& encoded) = 0;
};

class FrameWriter : public SlotWriter {
 public:
  // inputPath names the file or device being read, which no slot may
  // replace; it may be null or name nothing.
  explicit FrameWriter(const char* inputPath,
                       TemporaryNaming naming = TemporaryNaming::UnnamedFirst);

  // Encodes frame in the format that the extension of name selects.
  WriteResult encode(const char* name, const cv::Mat& frame,
                     EncodedFrame& encoded) const override;

  // Puts encoded in place as name. A failure leaves name as it was and no
  // temporary behind.
  WriteResult place(const char* name, EncodedFrame& encoded) override;

 private:
  WriteResult placeBytes(const std::string& directory, const char* name,
                         const std::vector<unsigned char>& bytes,
                         const struct stat* previous);

  bool guardsInput_;
  dev_t inputDevice_ = 0;
  ino_t inputInode_ = 0;
  TemporaryNaming naming_;
};
