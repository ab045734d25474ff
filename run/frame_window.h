// The window that shows the frames, and the key wait of each cycle.
#pragma once

#include <chrono>
#include <memory>
#include <opencv2/core/mat.hpp>

constexpr char WINDOW_NAME[] = "pellux";
constexpr int ESC = 27;
// How long each cycle lets the window run its events and waits for a key.
constexpr std::chrono::milliseconds KEY_WAIT(10);

// Sets the window library's environment: a fallback platform and quiet
// logging. Changes the environment, so call it before any thread starts.
void prepareWindowLibrary();

// Whether the environment names a display to open the window on.
bool displayAvailable();

// The window "pellux", while it exists.
class FrameWindow {
 public:
  // Creates the window, resizable by the user. Returns null if it could
  // not.
  static std::unique_ptr<FrameWindow> create();
  ~FrameWindow();
  FrameWindow(const FrameWindow&) = delete;
  FrameWindow& operator=(const FrameWindow&) = delete;

  // Sizes the window to show the first frame given at its own size; the
  // user can still resize it.
  void fit(const cv::Mat& frame);
  bool fitted() const { return fitted_; }

  // Draws frame in the window. Returns false if it could not.
  bool show(const cv::Mat& frame);

  // Lets the window process its events for KEY_WAIT, returning at once with
  // the code of a key pressed in it; -1 when none was.
  int waitForKey();

  // Lets the window process the events that wait, without waiting for
  // more. Returns the code of a key pressed in it; -1 when none was.
  int pollKey();

 private:
  FrameWindow() = default;

  bool fitted_ = false;
};
