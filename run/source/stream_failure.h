// Why FFmpeg could not open a stream, from what it logs while it tries,
// with its messages kept off the console.
#pragma once

#include <string>

// How long a network stream may take to open, and to give each frame: a
// stream that stalls ends the run as soon as a camera that stalls does.
constexpr int STREAM_TIMEOUT_S = 10;

enum class StreamFailure {
  Unknown,
  ConnectionRefused,
  NotFound,
  Unauthorized,
  Forbidden,
  UnknownHost,
  TimedOut,  // known by the time the open took, not from the log
};

// Takes FFmpeg's log, so that its messages stay off stderr and its
// failures are known, unless the user asked for its messages with
// OPENCV_FFMPEG_DEBUG or OPENCV_FFMPEG_LOGLEVEL. Call before the first
// capture opens.
void takeFfmpegLog();

// Forgets the failures logged so far.
void clearStreamFailure();

// The last failure FFmpeg logged since clearStreamFailure, if it gave one.
StreamFailure lastStreamFailure();

// The failure that one of FFmpeg's messages tells of, if any.
StreamFailure failureIn(const char* message);

// The words that say failure after a stream's URL, as "not found".
std::string describe(StreamFailure failure);
