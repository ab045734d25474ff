#include "run/source/stream_source.h"

#include <cctype>
#include <chrono>
#include <utility>
#include <vector>

#include "cli/printable.h"
#include "cli/stream_url.h"
#include "run/source/file_source.h"
#include "run/source/stream_failure.h"
#include "run/source/video_capture.h"

namespace {

constexpr std::chrono::seconds STREAM_TIMEOUT(STREAM_TIMEOUT_S);

// Why the stream did not answer, from what FFmpeg logged since it was
// cleared and how long the wait that failed took.
StreamFailure failureAfter(std::chrono::steady_clock::time_point started) {
  StreamFailure failure = lastStreamFailure();
  if (failure == StreamFailure::Unknown &&
      std::chrono::steady_clock::now() - started >= STREAM_TIMEOUT)
    return StreamFailure::TimedOut;
  return failure;
}

// The steady clock in milliseconds: when a frame arrived.
double steadyMs() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

Result<std::unique_ptr<FrameSource>, Refusal> StreamSource::open(
    const char* url, double rate) {
  std::string name = printable(withoutSecrets(url));
  const int timeoutMs = STREAM_TIMEOUT_S * 1000;
  const std::vector<int> timeouts = {cv::CAP_PROP_OPEN_TIMEOUT_MSEC, timeoutMs,
                                     cv::CAP_PROP_READ_TIMEOUT_MSEC, timeoutMs};
  // FFmpeg knows its protocols by their names in lower case only.
  std::string lowered = url;
  for (std::size_t i = 0; i < lowered.find("://"); ++i)
    lowered[i] =
        static_cast<char>(std::tolower(static_cast<unsigned char>(lowered[i])));
  clearStreamFailure();
  auto started = std::chrono::steady_clock::now();
  cv::VideoCapture capture;
  bool opened = false;
  try {
    opened =
        capture.open(lowered, cv::CAP_FFMPEG, timeouts) && capture.isOpened();
  } catch (const cv::Exception&) {
  }
  if (!opened)
    return Refusal{NOT_INITIALIZED + ("\n" + name) + ": " +
                   describe(failureAfter(started))};
  // A file on a web server states its length; a live stream has none.
  if (mayNameFile(url) && propertyOf(capture, cv::CAP_PROP_FRAME_COUNT) >= 1)
    return std::unique_ptr<FrameSource>(
        new FileSource(std::move(capture), std::move(name)));
  return std::unique_ptr<FrameSource>(
      new StreamSource(std::move(capture), std::move(name), rate, started));
}

StreamSource::StreamSource(cv::VideoCapture capture, std::string name,
                           double rate,
                           std::chrono::steady_clock::time_point opening)
    : FrameSource(std::move(name), ""),
      capture_(std::move(capture)),
      opening_(opening) {
  if (rate > 0) pacer_.emplace(1000 / rate);
}

StreamSource::~StreamSource() { releaseCapture(capture_); }

int64_t StreamSource::frameBytes() const { return frameBytesOf(capture_); }

ReadResult StreamSource::read(cv::Mat& frame, ReadWatch& watch) {
  for (;;) {
    clearStreamFailure();
    bool grabbed = grabFrame(capture_);
    if (grabbed && pacer_ &&
        !pacer_->offer(propertyOf(capture_, cv::CAP_PROP_POS_MSEC),
                       steadyMs())) {
      if (watch.toldToStop()) return ReadResult::ended(SourceEnd::Told);
      continue;
    }
    if (grabbed && retrieveFrame(capture_, frame)) {
      ++account_.given;
      return ReadResult::frame();
    }
    // A stream that never gave a frame did not start, however far it
    // opened.
    if (account_.given == 0)
      return ReadResult::ended(SourceEnd::StreamSilent,
                               describe(failureAfter(opening_)));
    return ReadResult::ended(SourceEnd::StreamStopped);
  }
}
