#include "run/source/open_source.h"

#include <cstdlib>
#include <string>

#include "cli/printable.h"
#include "cli/stream_url.h"
#include "run/source/camera_source.h"
#include "run/source/file_source.h"
#include "run/source/stream_failure.h"
#include "run/source/stream_source.h"

void prepareSources() {
  takeFfmpegLog();
  // UDP loses packets on a busy network, and most firewalls block it.
  setenv("OPENCV_FFMPEG_CAPTURE_OPTIONS", "rtsp_transport;tcp", 0);
  // A camera's first grab, which starts it, does not wait for a frame:
  // that is waited for as every other frame is, with the window running.
  setenv("OPENCV_VIDEOIO_V4L_SELECT_TIMEOUT", "0", 0);
}

Result<std::unique_ptr<FrameSource>, Refusal> openSource(
    const RunSettings& settings) {
  const CaptureSource& source = settings.source;
  switch (source.kind) {
    case SourceKind::CameraIndex:
    case SourceKind::CameraDevice:
      return CameraSource::open(source, settings.frameSize, settings.frameRate);
    case SourceKind::VideoFile:
    case SourceKind::NetworkStream:
      break;
  }
  if (settings.frameSize.width > 0) {
    std::string name = source.kind == SourceKind::NetworkStream
                           ? withoutSecrets(source.path.c_str())
                           : source.path;
    return Refusal{"-size asks a camera for its frame size: " +
                   printable(name) + " is not a camera"};
  }
  if (source.kind == SourceKind::NetworkStream)
    return StreamSource::open(source.path.c_str(), settings.frameRate);
  return FileSource::open(source.path.c_str());
}
