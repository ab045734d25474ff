#include "run/frame_loop.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Gives frames numbered from 0, then ends as it is told to.
class FakeSource : public FrameSource {
 public:
  FakeSource(int frames, ReadResult end)
      : FrameSource("clip.mp4", ""), frames_(frames), end_(std::move(end)) {}

  int64_t frameBytes() const override { return 1; }
  ReadResult read(cv::Mat& frame, ReadWatch&) override {
    if (account_.given == frames_) return end_;
    frame.create(1, 1, CV_8UC1);
    frame.setTo(static_cast<int>(account_.given));
    ++account_.given;
    return ReadResult::frame();
  }
  FrameAccount account() const override { return account_; }

 private:
  const int frames_;
  const ReadResult end_;
  FrameAccount account_;
};

class NamesReport : public FrameReport {
 public:
  std::vector<std::string> names;  // the placing thread's
  void completed(const char* name, const WriteResult&, const WriteResult&,
                 double) override {
    names.push_back(name);
  }
};

struct Row {
  int frames;
  ReadResult end;
  int status;
  std::string lastWords;
};

// Runs the loop over source with no window, and says what the run comes
// to, as the run does with what the loop returns.
RunOutcome runLoop(FakeSource& source, std::vector<std::string>& names) {
  OutputRing ring;
  setDefaultRing(ring);
  ring.lastIndex = 2;
  auto slots = SlotCycle::start(ring);
  auto signals = StopSignals::start();
  Console console;
  NamesReport report;
  auto pipeline = FramePipeline::start(nullptr, nullptr, report, 2);
  FrameLoop loop(source, nullptr, false, *pipeline.value(), slots.value(),
                 *signals.value(), console, [] { return true; });
  RunOutcome outcome = loop.run();
  pipeline.value()->finish();
  outcome.frames = source.account();
  names = report.names;
  return outcome;
}

TEST(FrameLoop, EachWayASourceEndsComesToItsStatusAndLastWords) {
  const std::vector<Row> rows = {
      {5, ReadResult::ended(SourceEnd::VideoEnded), 0, ""},
      {0, ReadResult::ended(SourceEnd::NoFrame), RUN_FAILED,
       "clip.mp4: no frame could be read\n"},
      {2, ReadResult::ended(SourceEnd::CameraStopped), RUN_FAILED,
       "clip.mp4: the camera stopped giving frames\n"},
      {4, ReadResult::ended(SourceEnd::StreamStopped), RUN_FAILED,
       "clip.mp4: the stream stopped giving frames\n"},
      {0, ReadResult::ended(SourceEnd::StreamSilent, "no answer within 10 s"),
       START_FAILED,
       "Could not initialize capturing...\nclip.mp4: no answer within 10 s\n"},
  };
  for (const Row& row : rows) {
    FakeSource source(row.frames, row.end);
    std::vector<std::string> names;
    RunOutcome outcome = runLoop(source, names);
    EXPECT_EQ(exitStatusOf(outcome), row.status) << row.lastWords;
    EXPECT_EQ(lastWordsOf(outcome), row.lastWords);
    // Every frame given went to its slot, in the ring's order.
    std::vector<std::string> expected;
    for (int i = 0; i < row.frames; ++i)
      expected.push_back("f00" + std::to_string(i % 3) + ".jpg");
    EXPECT_EQ(names, expected);
  }
}

}  // namespace
