#include "run/source/stream_failure.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavutil/log.h>
}

namespace {

// Written by FFmpeg's threads as they log, read by the main thread.
std::atomic<StreamFailure> lastFailure{StreamFailure::Unknown};

void takeMessage(void*, int level, const char* format, va_list arguments) {
  if (level > AV_LOG_WARNING) return;
  char message[512];
  std::vsnprintf(message, sizeof message, format, arguments);
  StreamFailure failure = failureIn(message);
  if (failure != StreamFailure::Unknown) lastFailure.store(failure);
}

}  // namespace

void takeFfmpegLog() {
  if (std::getenv("OPENCV_FFMPEG_DEBUG") != nullptr ||
      std::getenv("OPENCV_FFMPEG_LOGLEVEL") != nullptr)
    return;  // OpenCV prints them as the user asked
  av_log_set_callback(takeMessage);
}

void clearStreamFailure() { lastFailure.store(StreamFailure::Unknown); }

StreamFailure lastStreamFailure() { return lastFailure.load(); }

StreamFailure failureIn(const char* message) {
  // As FFmpeg words them: a TCP connection's errno, an HTTP status and an
  // RTSP reply's status (followed by the server's own words for it), a
  // name lookup.
  static const struct {
    const char* words;
    StreamFailure failure;
  } KNOWN[] = {
      {"Connection refused", StreamFailure::ConnectionRefused},
      {"HTTP error 404", StreamFailure::NotFound},
      {"failed: 404", StreamFailure::NotFound},
      {"HTTP error 401", StreamFailure::Unauthorized},
      {"failed: 401", StreamFailure::Unauthorized},
      {"HTTP error 403", StreamFailure::Forbidden},
      {"failed: 403", StreamFailure::Forbidden},
      {"Failed to resolve hostname", StreamFailure::UnknownHost},
  };
  for (const auto& known : KNOWN)
    if (std::strstr(message, known.words) != nullptr) return known.failure;
  return StreamFailure::Unknown;
}

std::string describe(StreamFailure failure) {
  switch (failure) {
    case StreamFailure::ConnectionRefused:
      return "connection refused";
    case StreamFailure::NotFound:
      return "not found";
    case StreamFailure::Unauthorized:
      return "unauthorized";
    case StreamFailure::Forbidden:
      return "forbidden";
    case StreamFailure::UnknownHost:
      return "the host name is unknown";
    case StreamFailure::TimedOut:
      return "no answer within " + std::to_string(STREAM_TIMEOUT_S) + " s";
    case StreamFailure::Unknown:
      break;
  }
  return "could not be opened as a video stream";
}
