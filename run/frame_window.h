// The window that shows the frames, and the key wait of each cycle.
#pragma once

#include <opencv2/core/mat.hpp>

constexpr char WINDOW_NAME[] = "pellux";
constexpr int ESC = 27;

// Sets the window library's environment: a fallback platform and quiet
// logging. Changes the environment, so call it before any thread starts.
void prepareWindowLibrary();

// Whether the environment names a display to open the window on.
bool displayAvailable();

// Creates the window, resizable by the user. Returns false if it could not.
bool createWindow();

// Sizes the window to show frame at its own size; the user can still
// resize it.
void fitWindow(const cv::Mat& frame);

// Draws frame in the window. Returns false if it could not.
bool showFrame(const cv::Mat& frame);

// Lets the window process its events for 10 ms, returning at once with the
// code of a key pressed in it; -1 when none was.
int waitForKey();

void destroyWindow();
