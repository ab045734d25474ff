#include "run/ring/frame_pipeline.h"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <opencv2/core/utility.hpp>
#include <system_error>

#include "run/stop_signals.h"

namespace {

// Frames in flight are decoded frames held whole, so on a machine with many
// cores one each would take gigabytes at 4K; this much holds ten 4K frames
// or forty-three 1080p ones, more than the cores of most machines.
constexpr int64_t IN_FLIGHT_BYTES = int64_t{256} << 20;
constexpr int64_t UNKNOWN_FRAME_BYTES = int64_t{3840} * 2160 * 3;

// How long a stopping run waits for a reader that takes no lines.
constexpr std::chrono::milliseconds STALLED_OUTPUT_GRACE(1000);
constexpr std::chrono::milliseconds INTERRUPT_INTERVAL(50);

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

std::variant<std::unique_ptr<FramePipeline>, int> FramePipeline::start(
    SlotWriter* writer, Console& console, int encoders) {
  std::unique_ptr<FramePipeline> pipeline(
      new FramePipeline(writer, console, encoders));
  try {
    std::vector<std::thread>& threads = pipeline->threads_;
    threads.emplace_back(&FramePipeline::placeFrames, pipeline.get());
    for (int i = 0; i < encoders; ++i)
      threads.emplace_back(&FramePipeline::encodeFrames, pipeline.get());
  } catch (const std::system_error& error) {
    return error.code().value();  // the threads started end with it
  }
  return pipeline;
}

FramePipeline::FramePipeline(SlotWriter* writer, Console& console, int encoders)
    : writer_(writer),
      console_(console),
      tickFrequency_(cv::getTickFrequency()),
      lastLineTick_(cv::getTickCount()),
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

bool FramePipeline::finish() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    closing_ = true;
    handedOverOne_.notify_all();
    encodedNext_.notify_all();
    auto allPlaced = [&] { return placed_ == handedOver_; };
    placedOne_.wait(lock, [&] { return allPlaced() || stopping_; });
    // Told to stop: the frames in flight are completed, with their lines
    // unless the reader of stdout has stopped reading them.
    while (!placedOne_.wait_for(lock, INTERRUPT_INTERVAL, allPlaced))
      giveUpStalledOutput();
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

void FramePipeline::giveUpStalledOutput() {
  if (!console_.stalledFor(STALLED_OUTPUT_GRACE)) return;
  console_.dropLines();
  interruptThread(threads_.front().native_handle());  // the placing thread
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
  if (writer_ != nullptr && result.failure == WriteFailure::None) {
    try {
      result = writer_->place(job.name, job.encoded);
    } catch (...) {
      result = {WriteFailure::Unexpected, {}};
    }
  }
  if (result.failure != WriteFailure::None) {
    reportWriteFailure(job.name, result);
    allWritten_ = false;
  }
  int64_t now = cv::getTickCount();
  console_.printTimingLine(job.name, static_cast<double>(now - lastLineTick_),
                           tickFrequency_);
  lastLineTick_ = now;
}
