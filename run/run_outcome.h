// How a run ended, and what that comes to: its exit status and what it
// says on stderr at the end.
#pragma once

#include <string>

enum class RunEnd {
  HelpShown,      // the help was printed instead
  StartFailed,    // nothing started: why is in reason
  VideoEnded,     // the video file gave its last frame
  EscPressed,     // in the window
  CameraStopped,  // the camera stopped giving frames
  NoFrame,        // the video opened but gave no frame at all
  StopSignal,     // signal arrived
  OutputLost,     // standard output could not take a line
};

struct RunOutcome {
  RunEnd end;
  // StartFailed: the lines that say why; CameraStopped and NoFrame: the
  // file or device that was read.
  std::string reason;
  int signal = 0;             // StopSignal: which one
  bool framesFailed = false;  // some frame was not written; each was said
  int outputError = 0;        // errno of standard output that was lost
};

// Exit status when nothing started: no source, unusable arguments.
constexpr int START_FAILED = -1;
// Exit status when the run ended but not as a whole: a frame not written,
// a source that failed, the console output lost.
constexpr int RUN_FAILED = 1;

// Says on stderr what the outcome leaves to say, then ends the process by
// the stop signal or returns the exit status: 0, RUN_FAILED or
// START_FAILED.
int finishRun(const RunOutcome& outcome);
