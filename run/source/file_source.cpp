#include "run/source/file_source.h"

#include <utility>

#include "cli/printable.h"
#include "run/source/stated_length.h"
#include "run/source/video_capture.h"

namespace {

ReadTally tallyOf(const cv::VideoCapture& capture, StatedLength length) {
  return ReadTally(propertyOf(capture, cv::CAP_PROP_FRAME_COUNT),
                   propertyOf(capture, cv::CAP_PROP_FPS), length);
}

}  // namespace

Result<std::unique_ptr<FrameSource>, Refusal> FileSource::open(
    const char* path) {
  cv::VideoCapture capture;
  try {
    // Files go to FFmpeg alone: the other backends would also try to read a
    // file that FFmpeg refused, and GStreamer then prints its own errors.
    if (!capture.open(path, cv::CAP_FFMPEG) || !capture.isOpened())
      return Refusal{NOT_INITIALIZED};
  } catch (const cv::Exception&) {
    return Refusal{NOT_INITIALIZED};
  }
  return std::unique_ptr<FrameSource>(new FileSource(
      std::move(capture), printable(path), path, statedLengthOf(path)));
}

FileSource::FileSource(cv::VideoCapture capture, std::string name)
    : FrameSource(std::move(name), ""),
      capture_(std::move(capture)),
      local_(false),
      tally_(tallyOf(capture_, StatedLength::Unknown)) {}

FileSource::FileSource(cv::VideoCapture capture, std::string name,
                       std::string path, StatedLength length)
    : FrameSource(std::move(name), std::move(path)),
      capture_(std::move(capture)),
      local_(true),
      tally_(tallyOf(capture_, length)) {}

FileSource::~FileSource() { releaseCapture(capture_); }

int64_t FileSource::frameBytes() const { return frameBytesOf(capture_); }

ReadResult FileSource::read(cv::Mat& frame, ReadWatch& watch) {
  for (;;) {
    if (readFrame(capture_, frame)) {
      tally_.frameRead(propertyOf(capture_, cv::CAP_PROP_POS_MSEC));
      return ReadResult::frame();
    }
    if (!local_ || !tally_.countFailedRead()) return end();
    if (watch.toldToStop()) return ReadResult::ended(SourceEnd::Told);
  }
}

ReadResult FileSource::end() const {
  if (tally_.tally().given() == 0) return ReadResult::ended(SourceEnd::NoFrame);
  if (tally_.stoppedShort()) return ReadResult::ended(SourceEnd::VideoCutShort);
  return ReadResult::ended(SourceEnd::VideoEnded);
}
