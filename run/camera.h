// Cameras: opening one through V4L2, and saying why one could not be.
#pragma once

#include <opencv2/videoio.hpp>
#include <string>

// The V4L2 device of camera index: /dev/videoN.
std::string cameraDevicePath(int index);

// Opens camera index through V4L2, so that a camera behaves the same
// whatever else is installed. Only where no V4L2 device has that index are
// the other camera backends tried.
bool openCamera(int index, cv::VideoCapture& capture);

// Opens the V4L2 capture device at path.
bool openCamera(const char* path, cv::VideoCapture& capture);

// Why the V4L2 device at path cannot be opened, as a user can act on it:
// "Permission denied (is the user in the video group?)", for example.
std::string cameraFailureReason(const char* path);
