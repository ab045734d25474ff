#include "run/source/file_source.h"

#include <utility>

#include "cli/printable.h"
#include "run/source/video_capture.h"

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
      std::move(capture), printable(path), path, VideoContainer::open(path)));
}

FileSource::FileSource(cv::VideoCapture capture, std::string name)
    : FrameSource(std::move(name), ""),
      capture_(std::move(capture)),
      local_(false),
      tally_(0) {}

FileSource::FileSource(cv::VideoCapture capture, std::string name,
                       std::string path,
                       std::optional<VideoContainer> container)
    : FrameSource(std::move(name), std::move(path)),
      capture_(std::move(capture)),
      local_(true),
      container_(std::move(container)),
      tally_(container_ ? container_->stated().expectedFrames() : 0) {}

FileSource::~FileSource() { releaseCapture(capture_); }

int64_t FileSource::frameBytes() const { return frameBytesOf(capture_); }

ReadResult FileSource::read(cv::Mat& frame, ReadWatch& watch) {
  for (;;) {
    if (readFrame(capture_, frame)) {
      tally_.frameRead(propertyOf(capture_, cv::CAP_PROP_POS_MSEC));
      return ReadResult::frame();
    }
    if (!local_ || !tally_.countFailedRead()) return end(watch);
    if (watch.toldToStop()) return ReadResult::ended(SourceEnd::Told);
  }
}

ReadResult FileSource::end(ReadWatch& watch) {
  if (container_)
    atEnd_ = tally_.account(container_->stated(), [&] {
      return container_->demux([&] { return watch.toldToStop(); });
    });
  else
    atEnd_ = tally_.account();
  if (atEnd_->given == 0) return ReadResult::ended(SourceEnd::NoFrame);
  return ReadResult::ended(atEnd_->stopped ? SourceEnd::VideoCutShort
                                           : SourceEnd::VideoEnded);
}

FrameAccount FileSource::account() const {
  return atEnd_ ? *atEnd_ : tally_.account();
}
