// Cameras: what one offers, opening one through V4L2, and saying why one
// could not be.
#pragma once

#include <opencv2/videoio.hpp>
#include <string>

#include "run/source/camera_mode.h"

// The V4L2 device of camera index: /dev/videoN.
std::string cameraDevicePath(int index);

// What the V4L2 camera at path offers at size (DEFAULT_CAMERA_SIZE when
// 0x0); not known where path is no V4L2 camera.
CameraOffer readCameraOffer(const char* path, FrameSize size);

// Opens camera index through V4L2 in mode, so that a camera behaves the
// same whatever else is installed. Only where no V4L2 device has that
// index are the other camera backends tried. A camera put in MJPEG gives
// its frames as they came: a row of JPEG bytes.
bool openCamera(int index, const CameraMode& mode, cv::VideoCapture& capture);

// Opens the V4L2 capture device at path, as above.
bool openCamera(const char* path, const CameraMode& mode,
                cv::VideoCapture& capture);

// Why the V4L2 device at path cannot be opened, as a user can act on it:
// "Permission denied (is the user in the video group?)", for example.
std::string cameraFailureReason(const char* path);
