// Encoding a frame for its slot in the format the slots' extension
// selects, proven usable at start; the encoded image is then put in place
// by the slot commit.
#pragma once

#include <memory>
#include <opencv2/core/mat.hpp>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "run/ring/jpeg_codec.h"
#include "run/ring/slot_commit.h"
#include "run/ring/temporary_file.h"
#include "run/ring/write_result.h"

// How the image writer of a format delivers an image.
enum class Encoding {
  Jpeg,         // by TurboJPEG, into a buffer (jpg, jpeg, jpe)
  InMemory,     // by the library's writer, into a buffer
  ThroughFile,  // only into a named file (jp2, hdr, pfm, ras, sr)
  AsCaptured,   // none: frames are a camera's JPEG images, written as such
};

// The format that the slots' extension selects, proven usable at start.
struct ImageFormat {
  std::string extension;  // from its dot, as the image writer is chosen
  Encoding encoding;
  // Whether frames come as a camera's JPEG images, to be decoded where the
  // slots are of another format.
  bool jpegFrames = false;
};

enum class FormatProblem {
  NoWriter,       // the extension selects no image writer
  RefusesFrames,  // its writer cannot encode colour frames
  // JPEG: libjpeg-turbo's own variables ask for what cannot be done
  // together (JpegCompressor::conflictingSettings)
  ConflictingSettings,
};

// Chooses the format for the slot name by encoding a small frame of the
// kind a capture gives (8-bit, 3 channels); formats written only to files
// are proven in the slot's directory.
std::variant<ImageFormat, FormatProblem> chooseImageFormat(const char* name);

// A frame encoded for its slot and not yet in place: the image's bytes or,
// for formats written only to files, a hidden temporary beside the slot.
class EncodedFrame {
 public:
  std::vector<unsigned char>& bytes() { return bytes_; }

 private:
  friend class FrameWriter;
  std::vector<unsigned char> bytes_;  // kept from frame to frame
  cv::Mat picture_;  // a camera's JPEG image decoded, kept likewise
  // Made at the first JPEG encoded into this frame, then kept.
  std::unique_ptr<JpegCompressor> compressor_;
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
  // Encodes frames in format; commit puts them in place and must outlive
  // the writer.
  FrameWriter(ImageFormat format, SlotCommit& commit);

  // Encodes frame for the slot name.
  WriteResult encode(const char* name, const cv::Mat& frame,
                     EncodedFrame& encoded) const override;

  // Puts encoded in place as name. A failure leaves name as it was and no
  // temporary behind.
  WriteResult place(const char* name, EncodedFrame& encoded) override;

 private:
  WriteResult writeThroughFile(const char* name, const cv::Mat& frame,
                               std::optional<TemporaryFile>& file) const;

  const ImageFormat format_;
  SlotCommit& commit_;
};
