// Where a run's frames come from, as its command line chooses it.
#pragma once

enum class SourceKind { CameraIndex, CameraDevice, VideoFile, NetworkStream };

struct CaptureSource {
  SourceKind kind;
  int cameraIndex;  // for CameraIndex
  // For the others: an argument's text, or for a stream the URL that the
  // run keeps.
  const char* path;
};

// Whether path names a character device: a camera such as /dev/video2 or
// /dev/v4l/by-id/..., never a video file.
bool isCameraDevice(const char* path);

// Chooses the source from the raw command line: no arguments or an option
// first is camera 0, a lone digit is that camera, a character device first
// is that camera, and so is a name under /dev/ that does not exist (a
// camera not plugged in, which then says so); a file:// URL first is the
// video file it names, any other URL first that network stream; anything
// else first is the video file it names.
CaptureSource chooseSource(int argc, const char* const* argv);
