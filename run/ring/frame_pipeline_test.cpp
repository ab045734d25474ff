#include "run/ring/frame_pipeline.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Encodes a frame as its one pixel's value, slowly and unevenly, so that
// later frames are often encoded before earlier ones; can refuse or throw
// on a given frame.
class FakeWriter : public SlotWriter {
 public:
  int refuse = -1;
  int throwOn = -1;
  std::chrono::milliseconds placing{0};  // how long a slot takes to place
  std::vector<std::pair<std::string, int>> placed;  // the placing thread's

  WriteResult encode(const char*, const cv::Mat& frame,
                     EncodedFrame& encoded) const override {
    int value = frame.at<unsigned char>(0, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(value % 4 * 3));
    if (value == throwOn) throw std::runtime_error("encoder failed");
    if (value == refuse) return {WriteFailure::EncoderRefused, {}};
    // Read again after the wait: a buffer decoded over meanwhile shows.
    encoded.bytes().assign(1, frame.at<unsigned char>(0, 0));
    return {};
  }
  WriteResult place(const char* name, EncodedFrame& encoded) override {
    std::this_thread::sleep_for(placing);
    placed.emplace_back(name, encoded.bytes().at(0));
    return {};
  }
};

std::string nameOf(int frame) { return "f" + std::to_string(frame); }

// Keeps each frame's report: its name, and whether it was written.
class FakeReport : public FrameReport {
 public:
  std::vector<std::pair<std::string, bool>> reports;  // the placing thread's

  void completed(const char* name, const WriteResult& result,
                 const WriteResult&, double) override {
    reports.emplace_back(name, result.written());
  }
};

std::unique_ptr<FramePipeline> started(SlotWriter& writer, FrameReport& report,
                                       int encoders) {
  auto pipeline = FramePipeline::start(&writer, nullptr, report, encoders);
  return std::move(pipeline.value());
}

// Decodes frames 0 .. count-1 into the pipeline's buffers and hands them
// over as f0, f1, ...
void handOverFrames(FramePipeline& pipeline, int count) {
  for (int frame = 0; frame < count; ++frame) {
    cv::Mat* buffer = pipeline.nextBuffer();
    buffer->create(1, 1, CV_8UC1);
    buffer->setTo(frame);
    pipeline.handOver(nameOf(frame).c_str());
  }
}

std::vector<std::pair<std::string, int>> framesInOrder(
    std::vector<int> frames) {
  std::vector<std::pair<std::string, int>> placed;
  for (int frame : frames) placed.emplace_back(nameOf(frame), frame);
  return placed;
}

// The reports of frames, in order, with whether each was written.
std::vector<std::pair<std::string, bool>> reportsOf(
    std::vector<std::pair<int, bool>> frames) {
  std::vector<std::pair<std::string, bool>> reports;
  for (auto [frame, written] : frames)
    reports.emplace_back(nameOf(frame), written);
  return reports;
}

TEST(FramePipeline, PutsEachFrameInPlaceInOrderWithItsOwnPixels) {
  FakeWriter writer;
  FakeReport report;
  std::unique_ptr<FramePipeline> pipeline = started(writer, report, 3);
  handOverFrames(*pipeline, 40);
  EXPECT_TRUE(pipeline->finish());
  std::vector<int> all;
  std::vector<std::pair<int, bool>> reported;
  for (int frame = 0; frame < 40; ++frame) {
    all.push_back(frame);
    reported.emplace_back(frame, true);
  }
  EXPECT_EQ(writer.placed, framesInOrder(all));
  EXPECT_EQ(report.reports, reportsOf(reported));
}

TEST(FramePipeline, AFailedFrameIsReportedInOrderAndTheRestLand) {
  FakeWriter writer;
  writer.refuse = 2;
  writer.throwOn = 5;
  FakeReport report;
  std::unique_ptr<FramePipeline> pipeline = started(writer, report, 2);
  handOverFrames(*pipeline, 8);
  EXPECT_FALSE(pipeline->finish());
  EXPECT_EQ(writer.placed, framesInOrder({0, 1, 3, 4, 6, 7}));
  EXPECT_EQ(report.reports, reportsOf({{0, true},
                                       {1, true},
                                       {2, false},
                                       {3, true},
                                       {4, true},
                                       {5, false},
                                       {6, true},
                                       {7, true}}));
}

TEST(FramePipeline, FramesInFlightAreCompletedAtTheEnd) {
  FakeWriter writer;
  FakeReport report;
  {
    std::unique_ptr<FramePipeline> pipeline = started(writer, report, 1);
    handOverFrames(*pipeline, 3);
  }  // no finish: the destructor completes them
  EXPECT_EQ(writer.placed, framesInOrder({0, 1, 2}));
}

TEST(FramePipeline, AStopEndsTheWaitForABufferAndCompletesTheFramesInFlight) {
  // Placing waits until told to go on, as a report waits for a reader of
  // stdout that stalled until the run gives it up.
  std::mutex mutex;
  std::condition_variable released;
  bool goOn = false;
  class WaitingWriter : public FakeWriter {
   public:
    std::function<void()> waitToGoOn;
    WriteResult place(const char* name, EncodedFrame& encoded) override {
      waitToGoOn();
      return FakeWriter::place(name, encoded);
    }
  } writer;
  writer.waitToGoOn = [&] {
    std::unique_lock<std::mutex> lock(mutex);
    released.wait(lock, [&] { return goOn; });
  };
  FakeReport report;
  std::unique_ptr<FramePipeline> pipeline = started(writer, report, 1);
  handOverFrames(*pipeline, 2);  // both buffers, the first frame held
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pipeline->stop();
  });
  cv::Mat* buffer = pipeline->nextBuffer();
  stopper.join();
  int calls = 0;
  bool allWritten = pipeline->finish(std::chrono::milliseconds(10), [&] {
    ++calls;
    std::lock_guard<std::mutex> lock(mutex);
    goOn = true;
    released.notify_all();
  });
  EXPECT_EQ(buffer, nullptr);
  EXPECT_TRUE(allWritten);
  EXPECT_GE(calls, 1);
  EXPECT_EQ(writer.placed, framesInOrder({0, 1}));
}

}  // namespace
