#include "run/capture_run.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/videoio.hpp>
#include <string>

#include "cli/argument_parser.h"
#include "run/camera.h"
#include "run/console.h"
#include "run/frame_handoff.h"
#include "run/frame_window.h"
#include "run/frame_writer.h"
#include "run/stop_signal.h"

namespace {

constexpr std::size_t OUTPUT_NAME_SIZE = PATH_MAX;

// The console is ours: the library's warnings (a missing camera, a damaged
// file) stay off it unless its own log variables ask for them.
void quietLibraryLogs() {
  if (std::getenv("OPENCV_LOG_LEVEL") == nullptr)
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  if (std::getenv("OPENCV_FFMPEG_DEBUG") == nullptr)
    setenv("OPENCV_FFMPEG_LOGLEVEL", "-8", 0);  // FFmpeg's quiet level
}

bool openSource(const CaptureSource& source, cv::VideoCapture& capture) {
  switch (source.kind) {
    case SourceKind::CameraIndex:
      return openCamera(source.cameraIndex, capture);
    case SourceKind::CameraDevice:
      return openCamera(source.path, capture);
    case SourceKind::VideoFile:
      break;
  }
  try {
    // Files go to FFmpeg alone: the other backends would also try to read a
    // file that FFmpeg refused, and GStreamer then prints its own errors.
    return capture.open(source.path, cv::CAP_FFMPEG) && capture.isOpened();
  } catch (const cv::Exception&) {
    return false;
  }
}

bool isCamera(const CaptureSource& source) {
  return source.kind != SourceKind::VideoFile;
}

bool readFrame(cv::VideoCapture& capture, cv::Mat& frame) {
  try {
    return capture.read(frame) && !frame.empty();
  } catch (const cv::Exception&) {
    return false;  // a source that fails mid-stream has ended
  }
}

int checkNameFits(const RunSettings& settings, int32_t index, char* name) {
  // Formatting a padding of millions of digits takes seconds only to be
  // refused, so a width that alone overfills the name is refused first.
  int width = 0;
  bool fits = std::sscanf(settings.namePattern, "%%s%%0%d", &width) == 1 &&
              width < static_cast<int>(OUTPUT_NAME_SIZE) &&
              formatOutputName(settings, index, name, OUTPUT_NAME_SIZE) >= 0;
  if (fits) return 0;
  std::fprintf(stderr,
               "Output file name for index %d would be longer than %zu "
               "characters.\n",
               index, OUTPUT_NAME_SIZE - 1);
  return -1;
}

// The file or device that the source reads, which no slot may replace and
// which messages about a camera name.
std::string inputPathOf(const CaptureSource& source) {
  return source.kind == SourceKind::CameraIndex
             ? cameraDevicePath(source.cameraIndex)
             : source.path;
}

void printBanner() {
  std::printf(
      "pellux: Conversion from video to image sequence using OpenCV version "
      "%s (%d.%d.%d)\n",
      CV_VERSION, CV_MAJOR_VERSION, CV_MINOR_VERSION, CV_SUBMINOR_VERSION);
  std::printf(
      "Hot keys: \n\tESC - quit the program\nType pellux -h for additional "
      "help.\n");
}

}  // namespace

CaptureSource chooseSource(int argc, const char* const* argv) {
  if (argc < 2 || isOption(argv[1]))
    return {SourceKind::CameraIndex, 0, nullptr};
  const char* first = argv[1];
  if (argc == 2 && std::strlen(first) == 1 &&
      std::isdigit(static_cast<unsigned char>(first[0])))
    return {SourceKind::CameraIndex, first[0] - '0', nullptr};
  if (isCameraDevice(first)) return {SourceKind::CameraDevice, 0, first};
  return {SourceKind::VideoFile, 0, first};
}

int32_t nextIndex(int32_t index, const RunSettings& settings) {
  return index >= settings.lastIndex ? settings.firstIndex : index + 1;
}

int checkOutputNames(const RunSettings& settings) {
  // The length of a name grows with the size of its index, so the longest
  // names are at the ends of the range; with first above last only the
  // first index is ever used.
  char name[OUTPUT_NAME_SIZE];
  if (settings.lastIndex > settings.firstIndex &&
      checkNameFits(settings, settings.lastIndex, name) != 0)
    return -1;
  if (checkNameFits(settings, settings.firstIndex, name) != 0) return -1;
  if (!settings.saveImages) return 0;
  int format = checkImageFormat(name);
  if (format == NO_IMAGE_WRITER)
    std::fprintf(stderr, "No image writer for the extension of %s\n", name);
  else if (format == WRITER_REFUSES_FRAMES)
    std::fprintf(stderr, "The %s image writer cannot write colour frames\n",
                 settings.extension);
  return format == FORMAT_OK ? 0 : -1;
}

int runCapture(int argc, const char* const* argv) {
  Console console;
  openConsole(console);
  quietLibraryLogs();

  RunSettings settings;
  setDefaultSettings(settings);
  int parsed = parseArguments(argc, argv, settings);
  if (parsed == HELP_SHOWN) return closeConsole(console) == 0 ? 0 : RUN_FAILED;
  if (parsed != 0) return -1;

  if (settings.verbose) printBanner();
  if (checkOutputNames(settings) != 0) return -1;

  catchStopSignals();
  CaptureSource source = chooseSource(argc, argv);
  const std::string inputPath = inputPathOf(source);
  cv::VideoCapture capture;
  if (!openSource(source, capture)) {
    std::fprintf(stderr, "Could not initialize capturing...\n");
    if (isCamera(source))
      std::fprintf(stderr, "%s: %s\n", inputPath.c_str(),
                   cameraFailureReason(inputPath.c_str()).c_str());
    return -1;
  }
  FrameWriter writer;
  setUpFrameWriter(writer, inputPath.c_str());

  // Without a display there is no window to show frames in or to press
  // ESC in, so the run goes on without one.
  bool haveDisplay = displayAvailable();
  bool haveWindow = haveDisplay && createWindow();
  if (!haveDisplay && settings.showImages && settings.verbose)
    std::printf("No display available: frames are not shown.\n");
  bool showFrames = haveWindow && settings.showImages;

  // Each frame is written and timed on a second thread while the next is
  // taken and shown. The capture decodes into the buffer that is not in
  // flight, so frames are handed over without a copy.
  FrameHandoff handoff;
  startHandoff(handoff, writer, console, settings.saveImages);
  cv::Mat frames[2];
  char outputName[OUTPUT_NAME_SIZE];
  int32_t index = settings.firstIndex;
  // A stop signal ends the loop between frames: the frame in hand is not
  // written, the one in flight is completed.
  bool sourceEnded = false;
  bool windowFitted = !haveWindow;
  for (int k = 0; stopSignal() == 0; k ^= 1) {
    if (!readFrame(capture, frames[k])) {
      sourceEnded = stopSignal() == 0;
      break;
    }
    if (!windowFitted) {
      fitWindow(frames[k]);
      windowFitted = true;
    }
    if (showFrames) showFrames = showFrame(frames[k]);
    if (haveWindow && (waitForKey() & 0xFF) == ESC) break;
    if (stopSignal() != 0) break;
    formatOutputName(settings, index, outputName, sizeof outputName);
    handOver(handoff, frames[k], outputName);
    index = nextIndex(index, settings);
  }
  int status = finishHandoff(handoff) ? 0 : RUN_FAILED;
  // The end of a file is the end of the run; a camera has no end, so one
  // that stops giving frames (unplugged, failed, silent) is a failure that
  // a script or a service manager must see.
  if (sourceEnded && isCamera(source)) {
    std::fprintf(stderr, "%s: the camera stopped giving frames\n",
                 inputPath.c_str());
    status = RUN_FAILED;
  }

  capture.release();
  if (haveWindow) destroyWindow();
  if (stopSignal() != 0) endBySignal(stopSignal());
  if (closeConsole(console) != 0) status = RUN_FAILED;
  return status;
}
