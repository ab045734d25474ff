#include "run/ring/frame_pipeline.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "run/stop_signals.h"

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

std::unique_ptr<FramePipeline> started(SlotWriter& writer, Console& console,
                                       int encoders) {
  auto pipeline = FramePipeline::start(&writer, console, encoders);
  return std::move(std::get<std::unique_ptr<FramePipeline>>(pipeline));
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

std::vector<std::string> timedNames(const std::string& out) {
  std::vector<std::string> names;
  for (std::size_t start = 0; start < out.size();) {
    std::size_t end = out.find('\n', start);
    names.push_back(out.substr(start, out.find(' ', start) - start));
    start = end + 1;
  }
  return names;
}

std::vector<std::pair<std::string, int>> framesInOrder(
    std::vector<int> frames) {
  std::vector<std::pair<std::string, int>> placed;
  for (int frame : frames) placed.emplace_back(nameOf(frame), frame);
  return placed;
}

TEST(FramePipeline, PutsEachFrameInPlaceInOrderWithItsOwnPixels) {
  Console console;
  FakeWriter writer;
  testing::internal::CaptureStdout();
  std::unique_ptr<FramePipeline> pipeline = started(writer, console, 3);
  handOverFrames(*pipeline, 40);
  EXPECT_TRUE(pipeline->finish());
  std::string out = testing::internal::GetCapturedStdout();
  std::vector<int> all;
  std::vector<std::string> names;
  for (int frame = 0; frame < 40; ++frame) {
    all.push_back(frame);
    names.push_back(nameOf(frame));
  }
  EXPECT_EQ(writer.placed, framesInOrder(all));
  EXPECT_EQ(timedNames(out), names);
}

TEST(FramePipeline, AFailedFrameIsReportedInOrderAndTheRestLand) {
  Console console;
  FakeWriter writer;
  writer.refuse = 2;
  writer.throwOn = 5;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  std::unique_ptr<FramePipeline> pipeline = started(writer, console, 2);
  handOverFrames(*pipeline, 8);
  EXPECT_FALSE(pipeline->finish());
  std::string err = testing::internal::GetCapturedStderr();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(err,
            "Could not write f2: the image writer refused the frame\n"
            "Could not write f5: an unexpected error\n");
  EXPECT_EQ(writer.placed, framesInOrder({0, 1, 3, 4, 6, 7}));
  EXPECT_EQ(timedNames(out).size(), 8u);  // every frame keeps its line
}

TEST(FramePipeline, FramesInFlightAreCompletedAtTheEnd) {
  Console console;
  FakeWriter writer;
  testing::internal::CaptureStdout();
  {
    std::unique_ptr<FramePipeline> pipeline = started(writer, console, 1);
    handOverFrames(*pipeline, 3);
  }  // no finish: the destructor completes them
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(writer.placed, framesInOrder({0, 1, 2}));
}

TEST(FramePipeline, AStopKeepsTheLinesOfFramesStillBeingPlaced) {
  Console console;
  FakeWriter writer;
  writer.placing = std::chrono::milliseconds(700);  // longer together than
                                                    // the wait for a reader
  testing::internal::CaptureStdout();
  std::unique_ptr<FramePipeline> pipeline = started(writer, console, 1);
  handOverFrames(*pipeline, 2);
  pipeline->stop();
  EXPECT_TRUE(pipeline->finish());
  EXPECT_EQ(timedNames(testing::internal::GetCapturedStdout()),
            std::vector<std::string>({"f0", "f1"}));
}

TEST(FramePipeline, AStopEndsTheWaitsAndGivesUpOnAReaderThatStalled) {
  auto signals = StopSignals::start();  // to interrupt a blocked write
  ASSERT_TRUE(std::holds_alternative<std::unique_ptr<StopSignals>>(signals));
  // stdout is a pipe that is full and never read.
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  fcntl(pipeEnds[1], F_SETFL, O_NONBLOCK);
  char filler[4096] = {};
  while (write(pipeEnds[1], filler, sizeof filler) > 0) {
  }
  fcntl(pipeEnds[1], F_SETFL, 0);
  std::fflush(stdout);
  int savedStdout = dup(STDOUT_FILENO);
  dup2(pipeEnds[1], STDOUT_FILENO);

  Console console;
  FakeWriter writer;
  std::unique_ptr<FramePipeline> pipeline = started(writer, console, 1);
  StopSignals::Waker wake(*std::get<std::unique_ptr<StopSignals>>(signals),
                          [&] { pipeline->stop(); });
  handOverFrames(*pipeline, 2);  // both buffers, the first line blocked
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(getpid(), SIGTERM);
  });
  cv::Mat* buffer = pipeline->nextBuffer();
  stopper.join();
  bool allWritten = pipeline->finish();
  // Nothing is printed to stdout until it is given back.
  dup2(savedStdout, STDOUT_FILENO);
  close(savedStdout);
  close(pipeEnds[0]);
  close(pipeEnds[1]);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_TRUE(allWritten);
  EXPECT_EQ(writer.placed, framesInOrder({0, 1}));
  EXPECT_FALSE(console.outputLost());
}

}  // namespace
