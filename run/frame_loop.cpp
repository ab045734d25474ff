#include "run/frame_loop.h"

#include <chrono>
#include <utility>

FrameLoop::FrameLoop(FrameSource& source, FrameWindow* window, bool showFrames,
                     FramePipeline& pipeline, SlotCycle& slots,
                     StopSignals& signals, Console& console,
                     std::function<bool()> settled)
    : source_(source),
      window_(window),
      drawing_(window != nullptr && showFrames),
      pipeline_(pipeline),
      slots_(slots),
      signals_(signals),
      console_(console),
      settled_(std::move(settled)) {}

RunOutcome FrameLoop::run() {
  for (;;) {
    if (std::optional<RunEnd> end = toldToEnd()) return {*end, source_.name()};
    cv::Mat* frame = pipeline_.nextBuffer();
    if (frame == nullptr) return {RunEnd::StopSignal, source_.name()};
    ReadResult read = signals_.interruptible(
        [&] { return source_.read(*frame, *this); }, settled_);
    if (!read.gotFrame()) return ended(read);
    draw(*frame);
    if (window_ && (window_->waitForKey() & 0xFF) == ESC)
      return {RunEnd::EscPressed, source_.name()};
    // Told to end while the frame was taken: it is not written, and those
    // in flight are completed.
    if (std::optional<RunEnd> end = toldToEnd()) return {*end, source_.name()};
    pipeline_.handOver(slots_.name());
    slots_.advance();
  }
}

std::optional<RunEnd> FrameLoop::toldToEnd() const {
  if (signals_.arrived() != 0) return RunEnd::StopSignal;
  if (console_.outputLost()) return RunEnd::OutputLost;
  if (escPressed_) return RunEnd::EscPressed;
  return std::nullopt;
}

bool FrameLoop::toldToStop() {
  // A source may ask for every packet it reads past, and each poll of the
  // window waits a millisecond of the library's own: the window is asked
  // once a key wait, as often as it is between frames.
  if (window_) {
    auto now = std::chrono::steady_clock::now();
    if (now >= nextKeyPoll_) {
      nextKeyPoll_ = now + KEY_WAIT;
      if ((window_->pollKey() & 0xFF) == ESC) escPressed_ = true;
    }
  }
  return toldToEnd().has_value();
}

std::chrono::milliseconds FrameLoop::askEvery() const {
  return window_ ? KEY_WAIT : STOP_CHECK_INTERVAL;
}

RunOutcome FrameLoop::ended(const ReadResult& read) const {
  // A source that failed because the run was told to stop did not end by
  // itself.
  if (std::optional<RunEnd> end = toldToEnd()) return {*end, source_.name()};
  switch (read.end()) {
    case SourceEnd::VideoEnded:
      return {RunEnd::VideoEnded, source_.name()};
    case SourceEnd::VideoCutShort:
      return {RunEnd::VideoCutShort, source_.name()};
    case SourceEnd::NoFrame:
      return {RunEnd::NoFrame, source_.name()};
    case SourceEnd::CameraStopped:
      return {RunEnd::CameraStopped, source_.name()};
    case SourceEnd::StreamStopped:
      return {RunEnd::StreamStopped, source_.name()};
    case SourceEnd::StreamSilent:
      return {RunEnd::StartFailed,
              NOT_INITIALIZED + ("\n" + source_.name()) + ": " + read.why()};
    case SourceEnd::Told:
      break;
  }
  return {RunEnd::StopSignal, source_.name()};
}

void FrameLoop::draw(const cv::Mat& frame) {
  // The window is fitted to the first frame even when frames are not
  // drawn, as it is there to take ESC.
  if (!window_ || (!drawing_ && window_->fitted())) return;
  // A frame that cannot be drawn leaves the one before in the window.
  const cv::Mat* picture = source_.picture(frame);
  if (picture == nullptr) return;
  window_->fit(*picture);
  if (drawing_) drawing_ = window_->show(*picture);
}
