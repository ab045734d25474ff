// Where a run's frames come from, as its command line (or, when that names
// none, its environment) chooses it.
#pragma once

#include <string>

enum class SourceKind { CameraIndex, CameraDevice, VideoFile, NetworkStream };

struct CaptureSource {
  SourceKind kind;
  int cameraIndex;  // for CameraIndex
  // For the others: the path of the device or file, or the stream's URL.
  std::string path;
};

// Whether path names a character device: a camera such as /dev/video2 or
// /dev/v4l/by-id/..., never a video file.
bool isCameraDevice(const char* path);

// The variable that names the source when the command line does not, so
// that a service can keep a URL's password off every command line.
constexpr const char SOURCE_VARIABLE[] = "PELLUX_SOURCE";

// Chooses the source from the raw command line: a lone digit is that
// camera, a character device first is that camera, and so is a name under
// /dev/ that does not exist (a camera not plugged in, which then says so);
// a file:// URL first is the video file it names, any other URL first that
// network stream; anything else first is the video file it names. With no
// arguments or an option first, a non-empty fromEnvironment (the value of
// SOURCE_VARIABLE, or null) is chosen from by the same rules, a lone digit
// being a camera whatever follows; without one, camera 0.
CaptureSource chooseSource(int argc, const char* const* argv,
                           const char* fromEnvironment);
