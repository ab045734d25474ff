// How a run ended, and what that comes to: its exit status and what it
// says on stderr at the end.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "run/source/frame_account.h"

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
  RunOutcome(RunEnd end, std::string reason)
      : end(end), reason(std::move(reason)) {}

  RunEnd end;
  // StartFailed: the lines that say why; otherwise the source as messages
  // name it.
  std::string reason;
  int signal = 0;             // StopSignal: which one
  bool framesFailed = false;  // some frame was not written; each was said
  int outputError = 0;        // errno of standard output that was lost
  // The source's frames: those given, and those it held that were not.
  FrameAccount frames;
};

// Exit status when nothing started: no source, unusable arguments.
constexpr int START_FAILED = -1;
// Exit status when the run ended but not as a whole: a frame not written
// or not decoded, a source that failed, the console output lost.
constexpr int RUN_FAILED = 1;

// What the run says on stderr at its end, each line with its newline;
// empty when it ended as a whole.
std::string lastWordsOf(const RunOutcome& outcome);

// The exit status: 0, RUN_FAILED, START_FAILED, or for a stop signal 128
// and its number.
int exitStatusOf(const RunOutcome& outcome);

// Says the last words on stderr, then ends the process by the stop signal
// or returns the exit status.
int finishRun(const RunOutcome& outcome);
