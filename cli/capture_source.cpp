#include "cli/capture_source.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "cli/argument_parser.h"
#include "cli/stream_url.h"

bool isCameraDevice(const char* path) {
  struct stat status;
  return stat(path, &status) == 0 && S_ISCHR(status.st_mode);
}

namespace {

// The source a name stands for; alone: nothing follows it.
CaptureSource sourceNamed(const char* name, bool alone) {
  if (alone && std::strlen(name) == 1 &&
      std::isdigit(static_cast<unsigned char>(name[0])))
    return {SourceKind::CameraIndex, name[0] - '0', {}};
  if (std::optional<std::string> path = fileUrlPath(name))
    return {SourceKind::VideoFile, 0, *path};
  if (isUrl(name)) return {SourceKind::NetworkStream, 0, name};
  struct stat status;
  bool absentDevice = std::strncmp(name, "/dev/", 5) == 0 &&
                      stat(name, &status) != 0 && errno == ENOENT;
  if (isCameraDevice(name) || absentDevice)
    return {SourceKind::CameraDevice, 0, name};
  return {SourceKind::VideoFile, 0, name};
}

}  // namespace

CaptureSource chooseSource(int argc, const char* const* argv,
                           const char* fromEnvironment) {
  if (argc >= 2 && !isOption(argv[1])) return sourceNamed(argv[1], argc == 2);
  if (fromEnvironment != nullptr && fromEnvironment[0] != '\0')
    return sourceNamed(fromEnvironment, true);
  return {SourceKind::CameraIndex, 0, {}};
}
