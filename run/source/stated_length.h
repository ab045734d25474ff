// How far the length a video file states can be trusted, as its container
// records it.
#pragma once

enum class StatedLength {
  Exact,      // the video stream's frame count is recorded (mp4, mov, avi)
  Estimated,  // from the duration, which the video alone fills
  Unknown,    // another stream may run on past the video, or none is said
};

// Reads the start of the regular file at path to tell; anything else is
// Unknown.
StatedLength statedLengthOf(const char* path);
