// Completing frames on a second thread: writing a frame's slot and printing
// its timing line while the main thread takes, shows and waits on the next.
// One frame at a time is in flight: handing over the next waits for it.
#pragma once

#include <climits>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <opencv2/core/mat.hpp>
#include <thread>

#include "run/console.h"
#include "run/frame_writer.h"

struct FrameHandoff {
  FrameWriter* writer;
  Console* console;
  bool save;             // write the frames, not only time them
  double tickFrequency;  // ticks per second
  int64_t lastLineTick;  // when the previous timing line was printed
  bool writeFailed;      // some frame could not be written

  std::mutex mutex;
  std::condition_variable changed;
  bool pending;  // a frame is handed over and not yet complete
  bool closing;
  cv::Mat frame;  // shares the pixels of the frame handed over
  char name[PATH_MAX];
  std::thread thread;
};

// Starts the thread; frames are written when save is set, and timed. Timing
// starts now: the first line gives the time from here to its frame's slot
// being in place.
void startHandoff(FrameHandoff& handoff, FrameWriter& writer, Console& console,
                  bool save);

// Hands over frame, to be completed as name once the frame before it is
// complete. The pixels are not copied: the caller must not change them
// until the next handOver or finishHandoff returns.
void handOver(FrameHandoff& handoff, const cv::Mat& frame, const char* name);

// Completes the frame in flight and ends the thread. Returns true when
// every frame handed over was written.
bool finishHandoff(FrameHandoff& handoff);
