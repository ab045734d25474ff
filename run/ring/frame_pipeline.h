// Completing frames behind the capture: several frames encoded at once, and
// each put in place and reported in frame order by one thread, while the
// caller decodes the next frame into a buffer none of them uses.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <opencv2/core/mat.hpp>
#include <thread>
#include <variant>
#include <vector>

#include "run/ring/output_ring.h"
#include "run/console.h"
#include "run/ring/frame_writer.h"

// The cores this process may run on, at least 1.
int usableCores();

// How many frames to encode at once: one per core given, and no more than
// keep the frames in flight (one per encoder and the one being decoded)
// within a fixed amount of memory. frameBytes is a frame's size, or 0 when
// the source does not say, which is taken as a 4K frame.
int encodersFor(int cores, int64_t frameBytes);

class FramePipeline {
 public:
  // Starts the encoder threads, and the thread that puts frames in place
  // with writer (when there is one: without, frames are only timed) and
  // prints their timing lines on console; both must outlive the pipeline.
  // Timing starts now: the first line gives the time from here to its
  // frame's slot being in place. Returns the pipeline, or the errno of a
  // thread that could not be started.
  static std::variant<std::unique_ptr<FramePipeline>, int> start(
      SlotWriter* writer, Console& console, int encoders);
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
  // buffer returns null, and finish drops the lines left once a line has
  // waited a second for a reader of stdout that stopped reading.
  void stop();

  // Completes every frame handed over and ends the threads. Returns true
  // when every frame was written.
  bool finish();

  // Whether every frame handed over is complete; from any thread.
  bool idle();

  // Once a line has waited a second for a reader of stdout that stopped
  // reading, drops it and the lines left, so that the frames still in
  // flight can be completed; from any thread, once stopped.
  void giveUpStalledOutput();

 private:
  struct Job {
    cv::Mat frame;
    char name[SLOT_NAME_SIZE];
    EncodedFrame encoded;
    WriteResult result;
    bool isEncoded = false;
  };

  FramePipeline(SlotWriter* writer, Console& console, int encoders);
  void encodeFrames();
  void placeFrames();
  void complete(Job& job);
  Job& job(uint64_t number) { return jobs_[number % jobs_.size()]; }

  SlotWriter* const writer_;
  Console& console_;
  const double tickFrequency_;
  int64_t lastLineTick_;    // the placing thread's own
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
