#include "cli/capture_source.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "cli/argument_parser.h"
#include "cli/stream_url.h"

bool isCameraDevice(const char* path) {
  struct stat status;
  return stat(path, &status) == 0 && S_ISCHR(status.st_mode);
}

CaptureSource chooseSource(int argc, const char* const* argv) {
  if (argc < 2 || isOption(argv[1]))
    return {SourceKind::CameraIndex, 0, nullptr};
  const char* first = argv[1];
  if (argc == 2 && std::strlen(first) == 1 &&
      std::isdigit(static_cast<unsigned char>(first[0])))
    return {SourceKind::CameraIndex, first[0] - '0', nullptr};
  if (const char* path = fileUrlPath(first))
    return {SourceKind::VideoFile, 0, path};
  if (isUrl(first)) return {SourceKind::NetworkStream, 0, first};
  struct stat status;
  bool absentDevice = std::strncmp(first, "/dev/", 5) == 0 &&
                      stat(first, &status) != 0 && errno == ENOENT;
  if (isCameraDevice(first) || absentDevice)
    return {SourceKind::CameraDevice, 0, first};
  return {SourceKind::VideoFile, 0, first};
}
