#include "run/frame_writer.h"

#include <sys/stat.h>

#include <cctype>
#include <cstring>
#include <opencv2/imgcodecs.hpp>
#include <string>

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
bool writesOnlyToFiles(const char* name) {
  std::string extension = extensionOf(name);
  for (char& c : extension) c = static_cast<char>(std::tolower(c));
  for (const char* only : {".jp2", ".hdr", ".pic", ".pfm", ".ras", ".sr"})
    if (extension == only) return true;
  return false;
}

// The directory part of name, or "." when it has none.
std::string directoryOf(const char* name) {
  const char* slash = std::strrchr(name, '/');
  if (slash == nullptr) return ".";
  return slash == name ? "/" : std::string(name, slash);
}

bool encode(const char* name, const cv::Mat& frame,
            std::vector<unsigned char>& encoded) {
  try {
    return cv::imencode(extensionOf(name), frame, encoded);
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

WriteResult failure(WriteFailure kind, int error = 0) { return {kind, error}; }

// Completes temporary with the attributes of the slot it replaces and puts
// it in place as name.
WriteResult finish(TemporaryFile& temporary, const char* name,
                   const struct stat* previous) {
  int error =
      previous == nullptr ? 0 : temporary.copyAttributesOf(name, *previous);
  if (error == 0) error = temporary.close();
  if (error != 0) return failure(WriteFailure::System, error);
  switch (temporary.putInPlace(name, previous, error)) {
    case TemporaryFile::Placement::Placed:
      return failure(WriteFailure::None);
    case TemporaryFile::Placement::SlotChanged:
      return failure(WriteFailure::SlotChanged);
    case TemporaryFile::Placement::Failed:
      break;
  }
  return failure(WriteFailure::System, error);
}

}  // namespace

ImageFormat checkImageFormat(const char* name) {
  try {
    if (!cv::haveImageWriter(name)) return ImageFormat::NoWriter;
  } catch (const cv::Exception&) {
    return ImageFormat::NoWriter;
  }
  cv::Mat proof(PROOF_SIZE, PROOF_SIZE, CV_8UC3, cv::Scalar(40, 120, 200));
  if (writesOnlyToFiles(name)) {
    TemporaryFile temporary(directoryOf(name), extensionOf(name),
                            TemporaryNaming::Named);
    // Where no file can be made, each frame says why on its own.
    if (temporary.error() != 0) return ImageFormat::Usable;
    return writeImage(temporary.path(), proof) ? ImageFormat::Usable
                                               : ImageFormat::RefusesFrames;
  }
  std::vector<unsigned char> encoded;
  return encode(name, proof, encoded) ? ImageFormat::Usable
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

WriteResult FrameWriter::write(const char* name, const cv::Mat& frame) {
  // The slot itself is looked at, not what a link in its place points to:
  // a link is replaced like any other name.
  struct stat slot;
  bool exists = lstat(name, &slot) == 0;
  if (exists && guardsInput_ && slot.st_dev == inputDevice_ &&
      slot.st_ino == inputInode_)
    return failure(WriteFailure::SlotIsInput);
  const struct stat* previous =
      exists && S_ISREG(slot.st_mode) ? &slot : nullptr;
  std::string directory = directoryOf(name);

  if (writesOnlyToFiles(name)) {
    TemporaryFile temporary(directory, extensionOf(name),
                            TemporaryNaming::Named);
    if (temporary.error() != 0)
      return failure(WriteFailure::System, temporary.error());
    if (!writeImage(temporary.path(), frame))
      return failure(WriteFailure::EncoderRefused);
    return finish(temporary, name, previous);
  }
  if (!encode(name, frame, encoded_))
    return failure(WriteFailure::EncoderRefused);
  WriteResult result = writeEncoded(directory, name, previous);
  // An unnamed temporary cannot always be given a name (no /proc in a
  // chroot or sandbox); from the first failure on, named ones are used.
  if (result.failure == WriteFailure::System &&
      naming_ == TemporaryNaming::UnnamedFirst) {
    naming_ = TemporaryNaming::Named;
    result = writeEncoded(directory, name, previous);
  }
  return result;
}

WriteResult FrameWriter::writeEncoded(const std::string& directory,
                                      const char* name,
                                      const struct stat* previous) {
  TemporaryFile temporary(directory, "", naming_);
  int error = temporary.error();
  if (error == 0) error = temporary.write(encoded_.data(), encoded_.size());
  if (error != 0) return failure(WriteFailure::System, error);
  return finish(temporary, name, previous);
}
