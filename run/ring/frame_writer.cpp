#include "run/ring/frame_writer.h"

#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <utility>

#include "run/ring/output_ring.h"

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

bool isJpegExtension(const std::string& extension) {
  for (const char* jpeg : {".jpg", ".jpeg", ".jpe"})
    if (strcasecmp(extension.c_str(), jpeg) == 0) return true;
  return false;
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

// Whether the file at path decodes to an image of frame's size: some
// writers go on as if nothing happened when the file stops growing.
bool decodesWhole(const std::string& path, const cv::Mat& frame) {
  try {
    cv::Mat image = cv::imread(path, cv::IMREAD_UNCHANGED);
    return image.rows == frame.rows && image.cols == frame.cols;
  } catch (const cv::Exception&) {
    return false;
  }
}

// The errors that stop a file from growing.
bool isWriteError(int error) {
  return error == EFBIG || error == ENOSPC || error == EDQUOT || error == EIO;
}

WriteResult failedWith(WriteFailure failure) { return {failure, {}}; }

// Compresses picture, which TurboJPEG takes, with compressor, made at the
// first picture and kept for the next.
WriteResult compressJpeg(const cv::Mat& picture,
                         std::unique_ptr<JpegCompressor>& compressor,
                         std::vector<unsigned char>& image) {
  if (!compressor) compressor = JpegCompressor::create();
  if (!compressor) return failedWith(WriteFailure::OutOfMemory);
  if (compressor->compress(picture, image)) return {};
  return failedWith(WriteFailure::EncoderRefused);
}

// A camera's JPEG image, whole as the camera source gave it: a row of bytes.
WriteResult copyCameraJpeg(const cv::Mat& frame,
                           std::vector<unsigned char>& image) {
  if (!frame.isContinuous() || frame.elemSize() != 1)
    return failedWith(WriteFailure::EncoderRefused);
  const unsigned char* data = frame.ptr<unsigned char>();
  image.assign(data, data + frame.total());
  return {};
}

}  // namespace

std::variant<ImageFormat, FormatProblem> chooseImageFormat(const char* name) {
  try {
    if (!cv::haveImageWriter(name)) return FormatProblem::NoWriter;
  } catch (const cv::Exception&) {
    return FormatProblem::NoWriter;
  }
  std::string extension = extensionOf(name);
  ImageFormat format = {extension, Encoding::InMemory};
  if (isJpegExtension(extension)) format.encoding = Encoding::Jpeg;
  if (writesOnlyToFiles(extension)) format.encoding = Encoding::ThroughFile;
  cv::Mat proof(PROOF_SIZE, PROOF_SIZE, CV_8UC3, cv::Scalar(40, 120, 200));
  std::vector<unsigned char> encoded;
  if (format.encoding == Encoding::Jpeg) {
    std::unique_ptr<JpegCompressor> compressor;
    if (compressJpeg(proof, compressor, encoded).written()) return format;
    if (JpegCompressor::conflictingSettings() != nullptr)
      return FormatProblem::ConflictingSettings;
    return FormatProblem::RefusesFrames;
  }
  if (format.encoding == Encoding::InMemory) {
    if (encodeInMemory(extension, proof, encoded)) return format;
    return FormatProblem::RefusesFrames;
  }
  auto created = TemporaryFile::create(systemFileSystem(), directoryOf(name),
                                       extension, TemporaryNaming::Named);
  // Where no file can be made or written (a full disk), each frame says
  // why on its own.
  if (!created.ok()) return format;
  errno = 0;
  if (writeImage(created.value().path(), proof) || isWriteError(errno))
    return format;
  return FormatProblem::RefusesFrames;
}

FrameWriter::FrameWriter(ImageFormat format, SlotCommit& commit)
    : format_(std::move(format)), commit_(commit) {}

WriteResult FrameWriter::encode(const char* name, const cv::Mat& frame,
                                EncodedFrame& encoded) const {
  encoded.file_.reset();
  try {
    if (format_.encoding == Encoding::AsCaptured)
      return copyCameraJpeg(frame, encoded.bytes_);
    const cv::Mat* picture = &frame;
    if (format_.jpegFrames) {
      if (!decodeJpeg(frame, encoded.picture_))
        return failedWith(WriteFailure::EncoderRefused);
      picture = &encoded.picture_;
    }
    if (format_.encoding == Encoding::ThroughFile)
      return writeThroughFile(name, *picture, encoded.file_);
    if (format_.encoding == Encoding::Jpeg && JpegCompressor::takes(*picture))
      return compressJpeg(*picture, encoded.compressor_, encoded.bytes_);
    if (encodeInMemory(format_.extension, *picture, encoded.bytes_)) return {};
    return failedWith(WriteFailure::EncoderRefused);
  } catch (const std::bad_alloc&) {
    encoded.file_.reset();
    return failedWith(WriteFailure::OutOfMemory);
  }
}

WriteResult FrameWriter::writeThroughFile(
    const char* name, const cv::Mat& frame,
    std::optional<TemporaryFile>& file) const {
  auto created = commit_.newFileBeside(name, format_.extension);
  if (!created.ok()) return systemWriteFailure(created.failure());
  file.emplace(std::move(created.value()));
  // The writers do not say why a write failed, and some not even that it
  // did; errno keeps the reason of the last call that failed.
  errno = 0;
  bool written = writeImage(file->path(), frame);
  int error = errno;
  if (written && decodesWhole(file->path(), frame)) return {};
  file.reset();
  if (isWriteError(error)) return systemWriteFailure({Step::Write, error});
  return failedWith(written ? WriteFailure::Incomplete
                            : WriteFailure::EncoderRefused);
}

WriteResult FrameWriter::place(const char* name, EncodedFrame& encoded) {
  // The temporary is spent here whatever comes of it.
  std::optional<TemporaryFile> file = std::move(encoded.file_);
  encoded.file_.reset();
  if (file) return commit_.placeFile(name, *file);
  return commit_.placeBytes(name, encoded.bytes_);
}
