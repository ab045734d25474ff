#include "run/run_outcome.h"

#include <cstdio>
#include <cstring>

#include "run/stop_signals.h"

std::string lastWordsOf(const RunOutcome& outcome) {
  const std::string& source = outcome.reason;
  std::string words;
  // One line for the frames missing, of the kind their loss was: frames
  // followed it, or the frames stopped before the end, or none came.
  const FrameAccount& frames = outcome.frames;
  if (frames.missing > 0 && outcome.end != RunEnd::VideoCutShort &&
      outcome.end != RunEnd::NoFrame)
    words += source + ": " + std::to_string(frames.missing) +
             (frames.missing == 1 ? " frame could" : " frames could") +
             " not be decoded, the first after frame " +
             std::to_string(frames.firstMissingAfter) + "\n";
  switch (outcome.end) {
    case RunEnd::StartFailed:
      words += outcome.reason + "\n";
      break;
    case RunEnd::CameraStopped:
      words += source + ": the camera stopped giving frames\n";
      break;
    case RunEnd::StreamStopped:
      words += source + ": the stream stopped giving frames\n";
      break;
    case RunEnd::VideoCutShort:
      words += source + ": reading stopped after " +
               std::to_string(frames.given) + " of " +
               std::to_string(frames.given + frames.missing) + " frames\n";
      break;
    case RunEnd::NoFrame:
      words += source + ": no frame could be read\n";
      break;
    case RunEnd::HelpShown:
    case RunEnd::VideoEnded:
    case RunEnd::EscPressed:
    case RunEnd::StopSignal:
    case RunEnd::OutputLost:
      break;
  }
  if (outcome.outputError != 0)
    words += std::string("Could not write to standard output: ") +
             std::strerror(outcome.outputError) + "\n";
  return words;
}

int exitStatusOf(const RunOutcome& outcome) {
  switch (outcome.end) {
    case RunEnd::StopSignal:
      return 128 + outcome.signal;
    case RunEnd::StartFailed:
      return START_FAILED;
    case RunEnd::CameraStopped:
    case RunEnd::StreamStopped:
    case RunEnd::VideoCutShort:
    case RunEnd::NoFrame:
    case RunEnd::OutputLost:
      return RUN_FAILED;
    case RunEnd::HelpShown:
    case RunEnd::VideoEnded:
    case RunEnd::EscPressed:
      break;
  }
  bool whole = !outcome.framesFailed && outcome.outputError == 0 &&
               outcome.frames.missing == 0;
  return whole ? 0 : RUN_FAILED;
}

int finishRun(const RunOutcome& outcome) {
  std::fputs(lastWordsOf(outcome).c_str(), stderr);
  if (outcome.end == RunEnd::StopSignal) endBySignal(outcome.signal);
  return exitStatusOf(outcome);  // where a signal could not end it
}
