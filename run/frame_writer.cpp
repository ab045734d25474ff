#include "run/frame_writer.h"

#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <opencv2/imgcodecs.hpp>
#include <string>

#include "cli/output_ring.h"

namespace {

// The smallest image that every writer here takes (jp2 refuses much
// smaller ones), of the kind a capture gives.
constexpr int PROOF_SIZE = 64;

// The text from the last dot of name, from which the library picks the
// image writer, as when writing to a file of that name.
std::string extensionOf(const char* name) {
  const char* dot = std::strrchr(name, '.');
  return dot == nullptr ? std::string() : std::string(dot);
}

// These writers encode only into a named file: asked for memory, the
// library goes through a file of its own in the system's temporary
// directory. They are given a hidden file beside the slot instead.
bool writesOnlyToFiles(const std::string& extension) {
  for (const char* only : {".jp2", ".hdr", ".pic", ".pfm", ".ras", ".sr"})
    if (strcasecmp(extension.c_str(), only) == 0) return true;
  return false;
}

bool encodeInMemory(const std::string& extension, const cv::Mat& frame,
                    std::vector<unsigned char>& encoded) {
  try {
    return cv::imencode(extension, frame, encoded);
  } catch (const cv::Exception&) {
    return false;
  }
}

bool writeImage(const std::string& path, const cv::Mat& frame) {
  try {
    return cv::imwrite(path, frame);
  } catch (const cv::Exception&) {
    return false;
  }
}

WriteResult outcome(WriteFailure kind, int error = 0) { return {kind, error}; }

// Completes temporary with the attributes of the slot it replaces and puts
// it in place as name.
WriteResult finish(TemporaryFile& temporary, const char* name,
                   const struct stat* previous) {
  int error =
      previous == nullptr ? 0 : temporary.copyAttributesOf(name, *previous);
  if (error == 0) error = temporary.close();
  if (error != 0) return outcome(WriteFailure::System, error);
  switch (temporary.putInPlace(name, previous, error)) {
    case TemporaryFile::Placement::Placed:
      return outcome(WriteFailure::None);
    case TemporaryFile::Placement::SlotChanged:
      return outcome(WriteFailure::SlotChanged);
    case TemporaryFile::Placement::Failed:
      break;
  }
  return outcome(WriteFailure::System, error);
}

}  // namespace

ImageFormat checkImageFormat(const char* name) {
  try {
    if (!cv::haveImageWriter(name)) return ImageFormat::NoWriter;
  } catch (const cv::Exception&) {
    return ImageFormat::NoWriter;
  }
  cv::Mat proof(PROOF_SIZE, PROOF_SIZE, CV_8UC3, cv::Scalar(40, 120, 200));
  std::string extension = extensionOf(name);
  if (writesOnlyToFiles(extension)) {
    TemporaryFile temporary(directoryOf(name), extension,
                            TemporaryNaming::Named);
    // Where no file can be made, each frame says why on its own.
    if (temporary.error() != 0) return ImageFormat::Usable;
    return writeImage(temporary.path(), proof) ? ImageFormat::Usable
                                               : ImageFormat::RefusesFrames;
  }
  std::vector<unsigned char> encoded;
  return encodeInMemory(extension, proof, encoded) ? ImageFormat::Usable
                                                   : ImageFormat::RefusesFrames;
}

const char* describeWriteFailure(const WriteResult& result) {
  switch (result.failure) {
    case WriteFailure::None:
      return "written";
    case WriteFailure::SlotIsInput:
      return "it is the video being read";
    case WriteFailure::EncoderRefused:
      return "the image writer refused the frame";
    case WriteFailure::SlotChanged:
      return "something else took its place while it was written";
    case WriteFailure::System:
      break;
  }
  return std::strerror(result.error);
}

FrameWriter::FrameWriter(const char* inputPath, TemporaryNaming naming)
    : naming_(naming) {
  struct stat input;
  guardsInput_ = inputPath != nullptr && stat(inputPath, &input) == 0;
  if (guardsInput_) {
    inputDevice_ = input.st_dev;
    inputInode_ = input.st_ino;
  }
}

WriteResult FrameWriter::encode(const char* name, const cv::Mat& frame,
                                EncodedFrame& encoded) const {
  encoded.file_.reset();
  WriteResult result = outcome(WriteFailure::None);
  try {
    std::string extension = extensionOf(name);
    if (!writesOnlyToFiles(extension)) {
      if (!encodeInMemory(extension, frame, encoded.bytes_))
        result = outcome(WriteFailure::EncoderRefused);
    } else {
      TemporaryFile& file = encoded.file_.emplace(directoryOf(name), extension,
                                                  TemporaryNaming::Named);
      if (file.error() != 0)
        result = outcome(WriteFailure::System, file.error());
      else if (!writeImage(file.path(), frame))
        result = outcome(WriteFailure::EncoderRefused);
    }
  } catch (const std::bad_alloc&) {
    result = outcome(WriteFailure::System, ENOMEM);
  }
  // A frame that failed leaves no temporary behind.
  if (result.failure != WriteFailure::None) encoded.file_.reset();
  return result;
}

WriteResult FrameWriter::place(const char* name, EncodedFrame& encoded) {
  // The slot itself is looked at, not what a link in its place points to:
  // a link is replaced like any other name.
  struct stat slot;
  bool exists = lstat(name, &slot) == 0;
  const struct stat* previous =
      exists && S_ISREG(slot.st_mode) ? &slot : nullptr;
  WriteResult result = outcome(WriteFailure::SlotIsInput);
  try {
    if (exists && guardsInput_ && slot.st_dev == inputDevice_ &&
        slot.st_ino == inputInode_) {
      // The slot stays as it is, and the temporary goes.
    } else if (encoded.file_) {
      result = finish(*encoded.file_, name, previous);
    } else {
      std::string directory = directoryOf(name);
      result = placeBytes(directory, name, encoded.bytes_, previous);
      // An unnamed temporary cannot always be given a name (no /proc in a
      // chroot or sandbox); from the first failure on, named ones are used.
      if (result.failure == WriteFailure::System &&
          naming_ == TemporaryNaming::UnnamedFirst) {
        naming_ = TemporaryNaming::Named;
        result = placeBytes(directory, name, encoded.bytes_, previous);
      }
    }
  } catch (const std::bad_alloc&) {
    result = outcome(WriteFailure::System, ENOMEM);
  }
  encoded.file_.reset();
  return result;
}

WriteResult FrameWriter::placeBytes(const std::string& directory,
                                    const char* name,
                                    const std::vector<unsigned char>& bytes,
                                    const struct stat* previous) {
  TemporaryFile temporary(directory, "", naming_);
  int error = temporary.error();
  if (error == 0) error = temporary.write(bytes.data(), bytes.size());
  if (error != 0) return outcome(WriteFailure::System, error);
  return finish(temporary, name, previous);
}
