#include "run/frame_handoff.h"

#include <cstdio>
#include <opencv2/core/utility.hpp>

namespace {

void completeFrame(FrameHandoff& handoff) {
  if (handoff.save) {
    WriteResult written = handoff.writer->write(handoff.name, handoff.frame);
    if (written.failure != WriteFailure::None) {
      std::fprintf(stderr, "Could not write %s: %s\n", handoff.name,
                   describeWriteFailure(written));
      handoff.writeFailed = true;
    }
  }
  int64_t now = cv::getTickCount();
  handoff.console->printTimingLine(
      handoff.name, static_cast<double>(now - handoff.lastLineTick),
      handoff.tickFrequency);
  handoff.lastLineTick = now;
}

void completeFrames(FrameHandoff* handoff) {
  std::unique_lock<std::mutex> lock(handoff->mutex);
  for (;;) {
    handoff->changed.wait(lock,
                          [=] { return handoff->pending || handoff->closing; });
    if (!handoff->pending) return;
    // The main thread leaves the frame and its name alone while pending.
    lock.unlock();
    completeFrame(*handoff);
    lock.lock();
    handoff->frame.release();
    handoff->pending = false;
    handoff->changed.notify_all();
  }
}

void waitUntilIdle(FrameHandoff& handoff, std::unique_lock<std::mutex>& lock) {
  handoff.changed.wait(lock, [&] { return !handoff.pending; });
}

}  // namespace

void startHandoff(FrameHandoff& handoff, FrameWriter& writer, Console& console,
                  bool save) {
  handoff.writer = &writer;
  handoff.console = &console;
  handoff.save = save;
  handoff.tickFrequency = cv::getTickFrequency();
  handoff.lastLineTick = cv::getTickCount();
  handoff.writeFailed = false;
  handoff.pending = false;
  handoff.closing = false;
  handoff.thread = std::thread(completeFrames, &handoff);
}

void handOver(FrameHandoff& handoff, const cv::Mat& frame, const char* name) {
  std::unique_lock<std::mutex> lock(handoff.mutex);
  waitUntilIdle(handoff, lock);
  handoff.frame = frame;
  std::snprintf(handoff.name, sizeof handoff.name, "%s", name);
  handoff.pending = true;
  handoff.changed.notify_all();
}

bool finishHandoff(FrameHandoff& handoff) {
  {
    std::unique_lock<std::mutex> lock(handoff.mutex);
    waitUntilIdle(handoff, lock);
    handoff.closing = true;
    handoff.changed.notify_all();
  }
  handoff.thread.join();
  return !handoff.writeFailed;
}
