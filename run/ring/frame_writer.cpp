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
#include "run/source/camera_jpeg.h"

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

// The errors of linking an unnamed file that say it cannot be done here
// at all, as without /proc.
bool cannotLinkUnnamedFiles(const WriteResult& result) {
  if (result.failure != WriteFailure::System ||
      result.system.step != FileStep::Link)
    return false;
  int error = result.system.error;
  return error == ENOENT || error == EACCES || error == EPERM ||
         error == EXDEV || error == EOPNOTSUPP;
}

WriteResult systemFailure(FileFailure failure) {
  return {WriteFailure::System, failure};
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

// The camera's JPEG image in frame, as a viewer can decode it.
WriteResult completeCameraJpeg(const cv::Mat& frame,
                               std::vector<unsigned char>& image) {
  std::optional<JpegLayout> layout = wholeJpeg(frame);
  if (!layout) return failedWith(WriteFailure::EncoderRefused);
  completeJpeg(frame.ptr<unsigned char>(), *layout, image);
  return {};
}

// Writes frame in format into a new hidden file beside the slot name,
// left in file, and proves that it holds the whole image.
WriteResult writeThroughFile(FileSystem& files, const ImageFormat& format,
                             const char* name, const cv::Mat& frame,
                             std::optional<TemporaryFile>& file) {
  auto created = TemporaryFile::create(
      files, directoryOf(name), format.extension, TemporaryNaming::Named);
  if (auto* failure = std::get_if<FileFailure>(&created))
    return systemFailure(*failure);
  file.emplace(std::move(std::get<TemporaryFile>(created)));
  // The writers do not say why a write failed, and some not even that it
  // did; errno keeps the reason of the last call that failed.
  errno = 0;
  bool written = writeImage(file->path(), frame);
  int error = errno;
  if (written && decodesWhole(file->path(), frame)) return {};
  file.reset();
  if (isWriteError(error)) return systemFailure({FileStep::Write, error});
  return failedWith(written ? WriteFailure::Incomplete
                            : WriteFailure::EncoderRefused);
}

// Completes file with the attributes of the slot it replaces and puts it
// in place as name.
WriteResult commit(TemporaryFile& file, const char* name,
                   const struct stat* previous) {
  FileStatus failure;
  if (previous != nullptr && S_ISREG(previous->st_mode))
    failure = file.keepAttributesOf(name, *previous);
  if (!failure) failure = file.commit(name, previous);
  return failure ? systemFailure(*failure) : WriteResult{};
}

const char* describeStep(FileStep step) {
  switch (step) {
    case FileStep::Create:
      return "creating a temporary file beside it";
    case FileStep::Write:
      return "writing it";
    case FileStep::KeepAttributes:
      return "giving it the owner and permissions of the one it replaces";
    case FileStep::Link:
      return "naming its temporary file";
    case FileStep::Replace:
      return "replacing it";
    case FileStep::RemoveOld:
      break;
  }
  return "removing what it replaced";
}

// Why a write failed, when no system call says it.
const char* describeFailure(WriteFailure failure) {
  switch (failure) {
    case WriteFailure::None:
      return "written";
    case WriteFailure::SlotIsInput:
      return "it is the video being read";
    case WriteFailure::EncoderRefused:
      return "the image writer refused the frame";
    case WriteFailure::Incomplete:
      return "the image writer left the image incomplete";
    case WriteFailure::OutOfMemory:
      return std::strerror(ENOMEM);
    case WriteFailure::Unexpected:
    case WriteFailure::System:
      break;
  }
  return "an unexpected error";
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
    if (compressJpeg(proof, compressor, encoded).failure == WriteFailure::None)
      return format;
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
  auto* file = std::get_if<TemporaryFile>(&created);
  if (file == nullptr) return format;
  errno = 0;
  if (writeImage(file->path(), proof) || isWriteError(errno)) return format;
  return FormatProblem::RefusesFrames;
}

void reportWriteFailure(const char* name, const WriteResult& result) {
  const FileFailure& system = result.system;
  if (result.failure != WriteFailure::System)
    std::fprintf(stderr, "Could not write %s: %s\n", name,
                 describeFailure(result.failure));
  else if (system.step == FileStep::Replace && system.error == EEXIST)
    std::fprintf(stderr,
                 "Could not write %s: something else took its place while it "
                 "was written\n",
                 name);
  else if (system.step == FileStep::RemoveOld)
    std::fprintf(stderr,
                 "%s is in place, but a hidden file is left beside it: %s\n",
                 name, std::strerror(system.error));
  else
    std::fprintf(stderr, "Could not write %s: %s: %s\n", name,
                 describeStep(system.step), std::strerror(system.error));
}

FrameWriter::FrameWriter(ImageFormat format, const char* inputPath,
                         FileSystem& files, TemporaryNaming naming)
    : format_(std::move(format)), files_(files), naming_(naming) {
  struct stat input;
  if (inputPath != nullptr && stat(inputPath, &input) == 0) input_ = input;
}

WriteResult FrameWriter::encode(const char* name, const cv::Mat& frame,
                                EncodedFrame& encoded) const {
  encoded.file_.reset();
  try {
    if (format_.encoding == Encoding::AsCaptured)
      return completeCameraJpeg(frame, encoded.bytes_);
    const cv::Mat* picture = &frame;
    if (format_.jpegFrames) {
      if (!decodeJpeg(frame, encoded.picture_))
        return failedWith(WriteFailure::EncoderRefused);
      picture = &encoded.picture_;
    }
    if (format_.encoding == Encoding::ThroughFile)
      return writeThroughFile(files_, format_, name, *picture, encoded.file_);
    if (format_.encoding == Encoding::Jpeg && JpegCompressor::takes(*picture))
      return compressJpeg(*picture, encoded.compressor_, encoded.bytes_);
    if (encodeInMemory(format_.extension, *picture, encoded.bytes_)) return {};
    return failedWith(WriteFailure::EncoderRefused);
  } catch (const std::bad_alloc&) {
    encoded.file_.reset();
    return failedWith(WriteFailure::OutOfMemory);
  }
}

WriteResult FrameWriter::place(const char* name, EncodedFrame& encoded) {
  std::optional<TemporaryFile> file = std::move(encoded.file_);
  encoded.file_.reset();
  try {
    // The slot itself is looked at, not what a link in its place points
    // to: a link is replaced like any other name.
    struct stat slot;
    const struct stat* previous = nullptr;
    if (lstat(name, &slot) == 0) {
      if (input_ && sameFile(slot, *input_))
        return failedWith(WriteFailure::SlotIsInput);
      if (S_ISDIR(slot.st_mode))
        return systemFailure({FileStep::Replace, EISDIR});
      previous = &slot;
    } else if (errno != ENOENT) {
      return systemFailure({FileStep::Replace, errno});
    }
    if (file) return commit(*file, name, previous);
    WriteResult result = placeBytes(name, encoded.bytes_, previous);
    // An unnamed file cannot always be given a name (no /proc in a chroot
    // or a sandbox): from then on, named ones are used.
    if (cannotLinkUnnamedFiles(result) &&
        naming_ == TemporaryNaming::UnnamedFirst) {
      naming_ = TemporaryNaming::Named;
      result = placeBytes(name, encoded.bytes_, previous);
    }
    return result;
  } catch (const std::bad_alloc&) {
    return failedWith(WriteFailure::OutOfMemory);
  }
}

WriteResult FrameWriter::placeBytes(const char* name,
                                    const std::vector<unsigned char>& bytes,
                                    const struct stat* previous) {
  auto created = TemporaryFile::create(files_, directoryOf(name), "", naming_);
  if (auto* failure = std::get_if<FileFailure>(&created))
    return systemFailure(*failure);
  TemporaryFile& file = std::get<TemporaryFile>(created);
  if (FileStatus failure = file.write(bytes.data(), bytes.size()))
    return systemFailure(*failure);
  return commit(file, name, previous);
}
