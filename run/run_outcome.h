// How a run ended, and what that comes to: its exit status and what it
// says on stderr at the end.
#pragma once

#include <cstdint>
#include <string>

enum class RunEnd {
  HelpShown,      // the help was printed instead
  StartFailed,    // nothing started: why is in reason
  VideoEnded,     // the video file gave its last frame
  VideoCutShort,  // its frames stopped well before the end it states
  EscPressed,     // in the window
  CameraStopped,  // the camera stopped giving frames
  StreamStopped,  // a live network stream stopped giving frames
  NoFrame,        // the video opened but gave no frame at all
  StopSignal,     // signal arrived
  OutputLost,     // standard output could not take a line
};

struct RunOutcome {
  RunEnd end;
  // StartFailed: the lines that say why; otherwise the file, device or
  // URL (without its password) that was read.
  std::string reason;
  int signal = 0;             // StopSignal: which one
  bool framesFailed = false;  // some frame was not written; each was said
  int outputError = 0;        // errno of standard output that was lost
  // A video file's frames that could not be decoded, though frames
  // followed, and how many frames came before the first of them.
  int64_t undecodedFrames = 0;
  int64_t firstUndecodedAfter = 0;
  // VideoCutShort: the frames read, and those the file states it holds.
  int64_t framesRead = 0;
  int64_t framesStated = 0;
};

// Exit status when nothing started: no source, unusable arguments.
constexpr int START_FAILED = -1;
// Exit status when the run ended but not as a whole: a frame not written
// or not decoded, a source that failed, the console output lost.
constexpr int RUN_FAILED = 1;

// Says on stderr what the outcome leaves to say, then ends the process by
// the stop signal or returns the exit status: 0, RUN_FAILED or
// START_FAILED.
int finishRun(const RunOutcome& outcome);
