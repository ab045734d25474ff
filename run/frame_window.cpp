#include "run/frame_window.h"

#include <chrono>
#include <cstdlib>
#include <opencv2/highgui.hpp>
#include <thread>

namespace {

bool hasText(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && value[0] != '\0';
}

}  // namespace

void prepareWindowLibrary() {
  // Qt aborts the whole process when the display that the environment
  // names cannot be reached; with a fallback platform it runs on, off
  // screen.
  const char* platforms =
      hasText("DISPLAY") ? "xcb;offscreen" : "wayland;offscreen";
  setenv("QT_QPA_PLATFORM", platforms, 0);
  // Qt's own warnings (a display it could not reach, a missing runtime
  // directory) stay off the console unless its own variable asks for them.
  setenv("QT_LOGGING_RULES", "*=false", 0);
}

bool displayAvailable() {
  return hasText("DISPLAY") || hasText("WAYLAND_DISPLAY");
}

std::unique_ptr<FrameWindow> FrameWindow::create() {
  try {
    cv::namedWindow(WINDOW_NAME, cv::WINDOW_NORMAL);
  } catch (const cv::Exception&) {
    return nullptr;
  }
  return std::unique_ptr<FrameWindow>(new FrameWindow());
}

FrameWindow::~FrameWindow() {
  try {
    cv::destroyWindow(WINDOW_NAME);
  } catch (const cv::Exception&) {
  }
}

void FrameWindow::fit(const cv::Mat& frame) {
  if (fitted_) return;
  fitted_ = true;
  try {
    cv::resizeWindow(WINDOW_NAME, frame.cols, frame.rows);
  } catch (const cv::Exception&) {
  }
}

bool FrameWindow::show(const cv::Mat& frame) {
  try {
    cv::imshow(WINDOW_NAME, frame);
    return true;
  } catch (const cv::Exception&) {
    return false;
  }
}

int FrameWindow::pollKey() {
  try {
    return cv::pollKey();
  } catch (const cv::Exception&) {
    return -1;
  }
}

int FrameWindow::waitForKey() {
  // The library's own wait of 10 ms runs the events until its timer has
  // been seen, some milliseconds late. Short waits are polled instead
  // until the time is nearly up; the rest, shorter than the last poll
  // took, is slept.
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + KEY_WAIT;
  Clock::duration lastPoll(0);
  for (;;) {
    Clock::time_point start = Clock::now();
    if (deadline - start < lastPoll) break;
    int key = -1;
    try {
      key = cv::waitKey(1);
    } catch (const cv::Exception&) {
    }
    if (key >= 0) return key;
    lastPoll = Clock::now() - start;
  }
  std::this_thread::sleep_until(deadline);
  return -1;
}
