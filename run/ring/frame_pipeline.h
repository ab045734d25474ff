// Completing frames behind the capture: several frames encoded at once, and
// each put in place and reported in frame order by one thread, while the
// caller decodes the next frame into a buffer none of them uses.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <opencv2/core/mat.hpp>
#include <thread>
#include <vector>

#include "run/ring/frame_writer.h"
#include "run/ring/latest_name.h"
#include "run/ring/output_ring.h"
#include "run/ring/result.h"

// The cores this process may run on, at least 1.
int usableCores();

// How many frames to encode at once: one per core given, and no more than
// keep the frames in flight (one per encoder and the one being decoded)
// within a fixed amount of memory. frameBytes is a frame's size, or 0 when
// the source does not say, which is taken as a 4K frame.
int encodersFor(int cores, int64_t frameBytes);

// Where each frame is reported once it is complete: on the placing thread,
// in frame order.
class FrameReport {
 public:
  // The frame for the slot name came to result (always written when there
  // is no writer) and the update of the newest frame's name to latest
  // (written when there is none), elapsedTicks of cv::getTickCount after
  // the frame before it was complete.
  virtual void completed(const char* name, const WriteResult& result,
                         const WriteResult& latest, double elapsedTicks) = 0;

 protected:
  ~FrameReport() = default;
};

class FramePipeline {
 public:
  // Starts the encoder threads, and the thread that puts frames in place
  // with writer (when there is one: without, frames are only timed), makes
  // latest (when there is one) hold each frame put in place, and reports
  // them to report; all must outlive the pipeline. Timing starts now: the
  // first report gives the time from here to its frame's slot being in
  // place. Returns the pipeline, or the failure to start a thread.
  static Result<std::unique_ptr<FramePipeline>> start(SlotWriter* writer,
                                                      LatestName* latest,
                                                      FrameReport& report,
                                                      int encoders);
  // Finishes, so that no thread outlives the pipeline.
  ~FramePipeline();
  FramePipeline(const FramePipeline&) = delete;
  FramePipeline& operator=(const FramePipeline&) = delete;

  // The buffer to decode the next frame into, which no frame in flight
  // uses; waits until one is free. Null once stopped.
  cv::Mat* nextBuffer();

  // Hands over the frame in the buffer that nextBuffer gave, to be
  // completed as name. Its pixels are not copied.
  void handOver(const char* name);

  // Says that the run is told to stop, from any thread: a wait for a
  // buffer returns null.
  void stop();

  // Completes every frame handed over and ends the threads. Once stopped,
  // calls whileStopping every interval until they are complete, so that a
  // report that waits for a stalled reader can be given up. Returns true
  // when every frame was written.
  bool finish(std::chrono::milliseconds interval = {},
              const std::function<void()>& whileStopping = nullptr);

  // Whether every frame handed over is complete; from any thread.
  bool idle();

  // The thread that places frames and reports them, for interrupting a
  // report that waits.
  std::thread::native_handle_type placingThread() {
    return threads_.front().native_handle();
  }

 private:
  struct Job {
    cv::Mat frame;
    char name[SLOT_NAME_SIZE];
    EncodedFrame encoded;
    WriteResult result;
    bool isEncoded = false;
  };

  FramePipeline(SlotWriter* writer, LatestName* latest, FrameReport& report,
                int encoders);
  void encodeFrames();
  void placeFrames();
  void complete(Job& job);
  Job& job(uint64_t number) { return jobs_[number % jobs_.size()]; }

  SlotWriter* const writer_;
  LatestName* const latest_;
  FrameReport& report_;
  int64_t lastReportTick_;  // the placing thread's own
  bool allWritten_ = true;  // the placing thread's own until it ends

  // Guards the jobs' hand-over between the threads and the counts below;
  // a job's frame, name and encoding belong to the one thread whose turn
  // it is.
  std::mutex mutex_;
  // Each thread is woken only by what it waits for: a thread woken for
  // nothing takes a core from the decoding.
  std::condition_variable handedOverOne_;  // for the encoders
  std::condition_variable encodedNext_;    // for the placing thread
  std::condition_variable placedOne_;      // for a buffer, and the finish
  std::vector<Job> jobs_;  // one per encoder, and the one being decoded
  uint64_t handedOver_ = 0;
  uint64_t nextToEncode_ = 0;
  uint64_t placed_ = 0;
  bool closing_ = false;
  bool stopping_ = false;
  std::vector<std::thread> threads_;  // the placing thread first
};
