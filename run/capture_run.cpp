#include "run/capture_run.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <optional>
#include <string>
#include <utility>

#include "cli/printable.h"
#include "run/frame_loop.h"
#include "run/frame_window.h"
#include "run/ring/frame_pipeline.h"
#include "run/ring/frame_writer.h"
#include "run/ring/latest_name.h"
#include "run/ring/output_ring.h"
#include "run/ring/slot_commit.h"
#include "run/source/open_source.h"
#include "run/stop_signals.h"

namespace {

// How long a stopping run waits for a reader of stdout that takes no lines.
constexpr std::chrono::milliseconds STALLED_OUTPUT_GRACE(1000);

// The console is ours: the library's warnings (a missing camera, a damaged
// file, an image writer's complaint, a stream's end) stay off it unless its
// own log variable asks for them.
void quietLibraryLogs() {
  if (std::getenv("OPENCV_LOG_LEVEL") == nullptr) {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    std::cerr.rdbuf(nullptr);  // the image writers print there themselves
  }
}

void printBanner(Console& console) {
  char version[128];
  std::snprintf(
      version, sizeof version,
      "pellux: Conversion from video to image sequence using OpenCV version "
      "%s (%d.%d.%d)\n",
      CV_VERSION, CV_MAJOR_VERSION, CV_MINOR_VERSION, CV_SUBMINOR_VERSION);
  console.printMessage(version);
  console.printMessage(
      "Hot keys: \n\tESC - quit the program\nType pellux -h for additional "
      "help.\n");
}

std::string withReason(const char* what, int error) {
  return std::string(what) + ": " + std::strerror(error);
}

// Chooses the image format of slots named like name.
Result<ImageFormat, Refusal> chooseFormat(const char* name,
                                          const OutputRing& ring) {
  auto chosen = chooseImageFormat(name);
  if (auto* usable = std::get_if<ImageFormat>(&chosen)) return *usable;
  switch (std::get<FormatProblem>(chosen)) {
    case FormatProblem::NoWriter:
      return Refusal{std::string("No image writer for the extension of ") +
                     printable(name)};
    case FormatProblem::ConflictingSettings:
      return Refusal{"The " + printable(ring.extension) +
                     " image writer cannot use " +
                     JpegCompressor::conflictingSettings()};
    case FormatProblem::RefusesFrames:
      break;
  }
  return Refusal{"The " + printable(ring.extension) +
                 " image writer cannot write colour frames"};
}

// Reports each frame once it is complete: its timing line on the console
// once its slot is in place, so that a reader that follows the lines finds
// it there; otherwise why it is not, on stderr.
class ConsoleReport : public FrameReport {
 public:
  // console must outlive the report.
  explicit ConsoleReport(Console& console)
      : console_(console), tickFrequency_(cv::getTickFrequency()) {}

  void completed(const char* name, const WriteResult& result,
                 const WriteResult& latest, double elapsedTicks) override {
    std::string shown = printable(name);
    if (!result.written())
      std::fprintf(stderr, "%s\n", describeWriteFailure(shown, result).c_str());
    if (!latest.written())
      std::fprintf(stderr, "%s\n",
                   describeWriteFailure(latestName_, latest).c_str());
    if (result.placed())
      console_.printTimingLine(shown.c_str(), elapsedTicks, tickFrequency_);
  }

  // Names the newest frame's name, as messages give it.
  void nameLatest(const std::string& name) { latestName_ = printable(name); }

 private:
  Console& console_;
  const double tickFrequency_;
  std::string latestName_;
};

// One run from its start to its end: the source, the window and the
// pipeline that completes frames, each released on every path.
class CaptureRun {
 public:
  // settings, console and signals must outlive the run.
  CaptureRun(const RunSettings& settings, Console& console,
             StopSignals& signals)
      : settings_(settings),
        console_(console),
        signals_(signals),
        report_(console) {}

  // Checks the ring, opens the source and the window, and starts the
  // pipeline.
  Status<Refusal> start();

  // Takes frames until the run ends, completes those in flight and closes
  // the source and the window.
  RunOutcome takeFrames();

 private:
  // Makes what puts frames in place, in format where they are written,
  // and the newest frame's name where one is asked for.
  Status<Refusal> prepareRing(std::optional<ImageFormat> format);

  // Starts the threads that complete frames, as many encoders as the
  // cores and the frames' size allow.
  Status<Refusal> startPipeline();

  // Once a line has waited a while for a reader of stdout that stopped
  // reading, drops it and the lines left, so that the frames still in
  // flight can be completed; from any thread, once stopped.
  void giveUpStalledOutput();

  // Whether nothing is left half-done, so that a source that waits beyond
  // a stop signal may be left to it: the frames in flight are complete,
  // their lines given up where a reader stalled. On the signal thread.
  bool settledForStop();

  const RunSettings& settings_;
  Console& console_;
  StopSignals& signals_;
  ConsoleReport report_;
  std::optional<SlotCycle> slots_;
  std::unique_ptr<FrameSource> source_;
  std::optional<SlotCommit> commit_;
  std::optional<FrameWriter> writer_;
  std::optional<LatestName> latest_;
  std::unique_ptr<FrameWindow> window_;
  std::unique_ptr<FramePipeline> pipeline_;
  // Wakes the pipeline's waits on a stop signal; ends before the pipeline.
  std::optional<StopSignals::Waker> wakePipeline_;
};

Status<Refusal> CaptureRun::start() {
  if (settings_.verbose) printBanner(console_);
  auto slots = SlotCycle::start(settings_.ring);
  if (!slots.ok()) return slots.failure();
  slots_.emplace(std::move(slots.value()));
  if (!settings_.saveImages && settings_.latestName[0] != '\0')
    return Refusal{"-latest names the newest frame written: with -no, none is"};
  std::optional<ImageFormat> format;
  if (settings_.saveImages) {
    auto chosen = chooseFormat(slots_->name(), settings_.ring);
    if (!chosen.ok()) return chosen.failure();
    format = chosen.value();
  }

  // Nothing is in flight yet: a source that will not let go of a stop
  // signal may be left to it.
  auto opened = signals_.interruptible([&] { return openSource(settings_); },
                                       [] { return true; });
  if (!opened.ok()) return opened.failure();
  source_ = std::move(opened.value());
  if (Status<Refusal> prepared = prepareRing(format); !prepared.ok())
    return prepared;

  // Without a display there is no window to show frames in or to press
  // ESC in, so the run goes on without one.
  bool haveDisplay = displayAvailable();
  if (haveDisplay) window_ = FrameWindow::create();
  if (!haveDisplay && settings_.showImages && settings_.verbose)
    console_.printMessage("No display available: frames are not shown.\n");
  return startPipeline();
}

Status<Refusal> CaptureRun::prepareRing(std::optional<ImageFormat> format) {
  if (format) {
    // A camera's JPEG images are written as they came to JPEG slots, and
    // decoded by the encoders for others.
    format->jpegFrames = source_->givesJpeg();
    if (format->jpegFrames && format->encoding == Encoding::Jpeg)
      format->encoding = Encoding::AsCaptured;
    commit_.emplace(source_->inputPath());
    writer_.emplace(*format, *commit_);
  }
  if (settings_.latestName[0] != '\0') {
    auto proved = LatestName::prove(settings_.latestName, settings_.ring,
                                    source_->inputPath());
    if (!proved.ok()) return proved.failure();
    latest_.emplace(std::move(proved.value()));
    report_.nameLatest(latest_->name());
  }
  return {};
}

Status<Refusal> CaptureRun::startPipeline() {
  // Frames are encoded and put in place on threads of their own while the
  // next is taken and shown. The source decodes into a buffer that no
  // frame in flight uses, so frames are handed over without a copy.
  // Frames drawn in a window leave a core to the drawing and the display
  // server: the key wait paces the loop anyway, and an encoder more there
  // made each cycle longer.
  int cores = usableCores();
  bool drawing = window_ && settings_.showImages;
  int encoders = encodersFor(drawing && cores > 1 ? cores - 1 : cores,
                             source_->frameBytes());
  auto started =
      FramePipeline::start(writer_ ? &*writer_ : nullptr,
                           latest_ ? &*latest_ : nullptr, report_, encoders);
  if (!started.ok())
    return Refusal{withReason("Could not start the threads that write frames",
                              started.failure().error)};
  pipeline_ = std::move(started.value());
  wakePipeline_.emplace(signals_, [this] { pipeline_->stop(); });
  return {};
}

RunOutcome CaptureRun::takeFrames() {
  FrameLoop loop(*source_, window_.get(), settings_.showImages, *pipeline_,
                 *slots_, signals_, console_,
                 [this] { return settledForStop(); });
  RunOutcome outcome = loop.run();
  outcome.framesFailed = !pipeline_->finish(STOP_CHECK_INTERVAL,
                                            [this] { giveUpStalledOutput(); });
  outcome.frames = source_->account();
  wakePipeline_.reset();
  pipeline_.reset();
  source_.reset();
  window_.reset();
  return outcome;
}

bool CaptureRun::settledForStop() {
  giveUpStalledOutput();
  return pipeline_->idle();
}

void CaptureRun::giveUpStalledOutput() {
  if (!console_.stalledFor(STALLED_OUTPUT_GRACE)) return;
  console_.dropLines();
  interruptThread(pipeline_->placingThread());
}

RunOutcome capture(const RunSettings& settings, Console& console,
                   StopSignals& signals) {
  CaptureRun run(settings, console, signals);
  // A stop signal interrupts whatever the start waits for: the source, a
  // reader of the messages.
  Status<Refusal> started = signals.interruptible([&] { return run.start(); });
  if (!started.ok()) return {RunEnd::StartFailed, started.failure().message};
  return run.takeFrames();
}

}  // namespace

RunOutcome runCapture(const RunSettings& settings, Console& console) {
  // The environment is set while this is the only thread.
  quietLibraryLogs();
  prepareSources();
  prepareWindowLibrary();
  auto started = StopSignals::start();
  if (!started.ok())
    return {RunEnd::StartFailed,
            withReason("Could not start the thread that takes signals",
                       started.failure().error)};
  StopSignals& signals = *started.value();

  RunOutcome outcome = capture(settings, console, signals);
  outcome.outputError = console.close();
  // A reader of stdout that went away ends the run as it ends any writer
  // to a pipe nobody reads, unless SIGPIPE was ignored (as services have
  // it), where the run says so instead.
  if (outcome.outputError == EPIPE && signals.takes(SIGPIPE)) {
    outcome.end = RunEnd::StopSignal;
    outcome.signal = SIGPIPE;
    outcome.outputError = 0;
  }
  // Everything is closed: a stop signal that comes from here on ends the
  // process as it would without pellux.
  if (int signal = signals.stopTaking()) {
    outcome.end = RunEnd::StopSignal;
    outcome.signal = signal;
  }
  return outcome;
}
