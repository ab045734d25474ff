#include "run/run_outcome.h"

#include <cstdio>
#include <cstring>

#include "run/stop_signals.h"

namespace {

void report(const RunOutcome& outcome) {
  const char* reason = outcome.reason.c_str();
  if (outcome.undecodedFrames > 0)
    std::fprintf(stderr,
                 "%s: %lld %s not be decoded, the first after frame "
                 "%lld\n",
                 reason, static_cast<long long>(outcome.undecodedFrames),
                 outcome.undecodedFrames == 1 ? "frame could" : "frames could",
                 static_cast<long long>(outcome.firstUndecodedAfter));
  switch (outcome.end) {
    case RunEnd::StartFailed:
      std::fprintf(stderr, "%s\n", reason);
      break;
    case RunEnd::CameraStopped:
      std::fprintf(stderr, "%s: the camera stopped giving frames\n", reason);
      break;
    case RunEnd::StreamStopped:
      std::fprintf(stderr, "%s: the stream stopped giving frames\n", reason);
      break;
    case RunEnd::VideoCutShort:
      std::fprintf(stderr, "%s: reading stopped after %lld of %lld frames\n",
                   reason, static_cast<long long>(outcome.framesRead),
                   static_cast<long long>(outcome.framesStated));
      break;
    case RunEnd::NoFrame:
      std::fprintf(stderr, "%s: no frame could be read\n", reason);
      break;
    case RunEnd::HelpShown:
    case RunEnd::VideoEnded:
    case RunEnd::EscPressed:
    case RunEnd::StopSignal:
    case RunEnd::OutputLost:
      break;
  }
  if (outcome.outputError != 0)
    std::fprintf(stderr, "Could not write to standard output: %s\n",
                 std::strerror(outcome.outputError));
}

}  // namespace

int finishRun(const RunOutcome& outcome) {
  report(outcome);
  switch (outcome.end) {
    case RunEnd::StopSignal:
      endBySignal(outcome.signal);
      return 128 + outcome.signal;  // where the signal could not end it
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
               outcome.undecodedFrames == 0;
  return whole ? 0 : RUN_FAILED;
}
