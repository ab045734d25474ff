#include "run/frame_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <opencv2/imgcodecs.hpp>

namespace {

// The smallest image that every writer here takes (jp2 refuses much
// smaller ones), of the kind a capture gives.
constexpr int PROOF_SIZE = 64;

bool encode(const char* name, const cv::Mat& frame,
            std::vector<unsigned char>& encoded) {
  // The encoder is picked from the last dot of the text, as when writing
  // to a file of that name.
  try {
    return cv::imencode(name, frame, encoded);
  } catch (const cv::Exception&) {
    return false;
  }
}

// The directory part of name, or "." when it has none.
int directoryOf(const char* name, char (&directory)[PATH_MAX]) {
  const char* slash = std::strrchr(name, '/');
  if (slash == nullptr) {
    std::snprintf(directory, sizeof directory, ".");
    return 0;
  }
  int length = slash == name ? 1 : static_cast<int>(slash - name);
  int written =
      std::snprintf(directory, sizeof directory, "%.*s", length, name);
  return written < static_cast<int>(sizeof directory) ? 0 : ENAMETOOLONG;
}

int writeAll(int fd, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

// Opens a temporary file in directory: an unnamed one where the filesystem
// has them, so that nothing is seen until it is complete, and otherwise a
// hidden one whose name is left in temporary. Returns the descriptor or -1.
int openTemporary(const char* directory, char (&temporary)[PATH_MAX]) {
  temporary[0] = '\0';
  int fd = open(directory, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  if (std::snprintf(temporary, sizeof temporary, "%s/.pellux-XXXXXX",
                    directory) >= static_cast<int>(sizeof temporary)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  return mkostemp(temporary, O_CLOEXEC);
}

// Gives the complete unnamed temporary fd a hidden name in directory, so
// that it can be renamed over the slot.
int nameTemporary(int fd, const char* directory, char (&temporary)[PATH_MAX]) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    int length = std::snprintf(temporary, sizeof temporary, "%s/.pellux-%d-%u",
                               directory, static_cast<int>(getpid()), attempt);
    if (length >= static_cast<int>(sizeof temporary)) return ENAMETOOLONG;
    if (linkat(AT_FDCWD, path, AT_FDCWD, temporary, AT_SYMLINK_FOLLOW) == 0)
      return 0;
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

// Moves the complete temporary to name. A file already there is swapped
// out and then removed rather than renamed over: the name holds one whole
// image throughout either way, and ext4 flushes the new file to disk
// before renaming it over another, which costs more than writing it.
int putInPlace(const char* temporary, const char* name, bool replacing) {
  if (replacing &&
      renameat2(AT_FDCWD, temporary, AT_FDCWD, name, RENAME_EXCHANGE) == 0) {
    unlink(temporary);  // the previous image
    return 0;
  }
  return rename(temporary, name) == 0 ? 0 : errno;
}

// Writes data to a temporary beside name with the given mode and puts it in
// place as name; replacing says that name is a regular file now. On
// failure nothing of it is left.
int replaceFile(const char* name, const std::vector<unsigned char>& data,
                mode_t mode, bool replacing) {
  char directory[PATH_MAX];
  int result = directoryOf(name, directory);
  if (result != 0) return result;
  char temporary[PATH_MAX];
  int fd = openTemporary(directory, temporary);
  if (fd < 0) return errno;
  result = writeAll(fd, data.data(), data.size());
  if (result == 0 && fchmod(fd, mode) != 0) result = errno;
  if (result == 0 && temporary[0] == '\0')
    result = nameTemporary(fd, directory, temporary);
  if (close(fd) != 0 && result == 0) result = errno;
  if (result == 0) result = putInPlace(temporary, name, replacing);
  if (result != 0 && temporary[0] != '\0') unlink(temporary);
  return result;
}

}  // namespace

void setUpFrameWriter(FrameWriter& writer, const char* inputPath) {
  mode_t mask = umask(0);
  umask(mask);
  writer.createMode = 0666 & ~mask;
  struct stat input;
  writer.guardsInput = inputPath != nullptr && stat(inputPath, &input) == 0;
  writer.inputDevice = writer.guardsInput ? input.st_dev : 0;
  writer.inputInode = writer.guardsInput ? input.st_ino : 0;
}

int checkImageFormat(const char* name) {
  try {
    if (!cv::haveImageWriter(name)) return NO_IMAGE_WRITER;
  } catch (const cv::Exception&) {
    return NO_IMAGE_WRITER;
  }
  cv::Mat proof(PROOF_SIZE, PROOF_SIZE, CV_8UC3, cv::Scalar(40, 120, 200));
  std::vector<unsigned char> encoded;
  return encode(name, proof, encoded) ? FORMAT_OK : WRITER_REFUSES_FRAMES;
}

int writeSlot(FrameWriter& writer, const char* name, const cv::Mat& frame) {
  // The slot itself is looked at, not what a link in its place points to:
  // a link is replaced like any other name.
  struct stat slot;
  bool exists = lstat(name, &slot) == 0;
  if (exists && writer.guardsInput && slot.st_dev == writer.inputDevice &&
      slot.st_ino == writer.inputInode)
    return SLOT_IS_INPUT;
  if (!encode(name, frame, writer.encoded)) return ENCODING_FAILED;
  // A file being replaced keeps its permissions, as when written in place.
  bool replacing = exists && S_ISREG(slot.st_mode);
  mode_t mode = replacing ? slot.st_mode & 0777 : writer.createMode;
  return replaceFile(name, writer.encoded, mode, replacing);
}

const char* describeWriteFailure(int result) {
  if (result == SLOT_IS_INPUT) return "it is the video being read";
  if (result == ENCODING_FAILED) return "the image writer refused the frame";
  return std::strerror(result);
}
