#include "run/ring/frame_pipeline.h"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <opencv2/core/utility.hpp>
#include <system_error>

namespace {

// Frames in flight are decoded frames held whole, so on a machine with many
// cores one each would take gigabytes at 4K; this much holds ten 4K frames
// or forty-three 1080p ones, more than the cores of most machines.
constexpr int64_t IN_FLIGHT_BYTES = int64_t{256} << 20;
constexpr int64_t UNKNOWN_FRAME_BYTES = int64_t{3840} * 2160 * 3;

}  // namespace

int usableCores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return CPU_COUNT(&set);
  unsigned cores = std::thread::hardware_concurrency();
  return cores > 0 ? static_cast<int>(cores) : 1;
}

int encodersFor(int cores, int64_t frameBytes) {
  if (frameBytes <= 0) frameBytes = UNKNOWN_FRAME_BYTES;
  int64_t fit = IN_FLIGHT_BYTES / frameBytes - 1;  // and the one decoded
  return static_cast<int>(std::max<int64_t>(1, std::min<int64_t>(cores, fit)));
}

Result<std::unique_ptr<FramePipeline>> FramePipeline::start(SlotWriter* writer,
                                                            LatestName* latest,
                                                            FrameReport& report,
                                                            int encoders) {
  std::unique_ptr<FramePipeline> pipeline(
      new FramePipeline(writer, latest, report, encoders));
  try {
    std::vector<std::thread>& threads = pipeline->threads_;
    threads.emplace_back(&FramePipeline::placeFrames, pipeline.get());
    for (int i = 0; i < encoders; ++i)
      threads.emplace_back(&FramePipeline::encodeFrames, pipeline.get());
  } catch (const std::system_error& error) {
    // The threads started end with the pipeline.
    return SystemFailure{Step::StartThread, error.code().value()};
  }
  return pipeline;
}

FramePipeline::FramePipeline(SlotWriter* writer, LatestName* latest,
                             FrameReport& report, int encoders)
    : writer_(writer),
      latest_(latest),
      report_(report),
      lastReportTick_(cv::getTickCount()),
      jobs_(static_cast<std::size_t>(std::max(encoders, 1)) + 1) {}

FramePipeline::~FramePipeline() { finish(); }

cv::Mat* FramePipeline::nextBuffer() {
  std::unique_lock<std::mutex> lock(mutex_);
  // The buffer was last used by the frame one ring before, which must be
  // in place before it is decoded over.
  placedOne_.wait(
      lock, [&] { return handedOver_ - placed_ < jobs_.size() || stopping_; });
  return stopping_ ? nullptr : &job(handedOver_).frame;
}

void FramePipeline::handOver(const char* name) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::snprintf(job(handedOver_).name, SLOT_NAME_SIZE, "%s", name);
  ++handedOver_;
  handedOverOne_.notify_one();
}

void FramePipeline::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = true;
  placedOne_.notify_all();
}

bool FramePipeline::finish(std::chrono::milliseconds interval,
                           const std::function<void()>& whileStopping) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    closing_ = true;
    handedOverOne_.notify_all();
    encodedNext_.notify_all();
    auto allPlaced = [&] { return placed_ == handedOver_; };
    placedOne_.wait(lock, [&] {
      return allPlaced() || (stopping_ && whileStopping != nullptr);
    });
    // Told to stop: the frames in flight are completed, and what their
    // reports wait for may be given up meanwhile.
    while (!placedOne_.wait_for(lock, interval, allPlaced)) {
      lock.unlock();
      whileStopping();
      lock.lock();
    }
  }
  for (std::thread& thread : threads_)
    if (thread.joinable()) thread.join();
  return allWritten_;
}

void FramePipeline::encodeFrames() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    handedOverOne_.wait(
        lock, [&] { return nextToEncode_ < handedOver_ || closing_; });
    if (nextToEncode_ == handedOver_) return;  // closing, nothing left
    uint64_t number = nextToEncode_++;
    Job& next = job(number);
    lock.unlock();
    WriteResult result;
    if (writer_ != nullptr) {
      try {
        result = writer_->encode(next.name, next.frame, next.encoded);
      } catch (...) {
        result = {WriteFailure::Unexpected, {}};
      }
    }
    lock.lock();
    next.result = result;
    next.isEncoded = true;
    if (number == placed_) encodedNext_.notify_one();
  }
}

bool FramePipeline::idle() {
  std::lock_guard<std::mutex> lock(mutex_);
  return placed_ == handedOver_;
}

void FramePipeline::placeFrames() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    encodedNext_.wait(lock, [&] {
      return (placed_ < handedOver_ && job(placed_).isEncoded) ||
             (closing_ && placed_ == handedOver_);
    });
    if (placed_ == handedOver_) return;  // closing, nothing left
    Job& next = job(placed_);
    lock.unlock();
    complete(next);
    lock.lock();
    next.isEncoded = false;
    ++placed_;
    placedOne_.notify_all();
  }
}

void FramePipeline::complete(Job& job) {
  WriteResult result = job.result;
  if (writer_ != nullptr && result.written()) {
    try {
      result = writer_->place(job.name, job.encoded);
    } catch (...) {
      result = {WriteFailure::Unexpected, {}};
    }
  }
  WriteResult latest;
  if (latest_ != nullptr && result.placed()) {
    try {
      latest = latest_->update(job.name);
    } catch (...) {
      latest = {WriteFailure::Unexpected, {}};
    }
  }
  if (!result.written() || !latest.written()) allWritten_ = false;
  int64_t now = cv::getTickCount();
  report_.completed(job.name, result, latest,
                    static_cast<double>(now - lastReportTick_));
  lastReportTick_ = now;
}
