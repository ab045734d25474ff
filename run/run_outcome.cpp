#include "run/run_outcome.h"

#include <cstdio>
#include <cstring>

#include "run/stop_signals.h"

namespace {

void report(const RunOutcome& outcome) {
  const char* reason = outcome.reason.c_str();
  switch (outcome.end) {
    case RunEnd::StartFailed:
      std::fprintf(stderr, "%s\n", reason);
      break;
    case RunEnd::CameraStopped:
      std::fprintf(stderr, "%s: the camera stopped giving frames\n", reason);
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
    case RunEnd::NoFrame:
    case RunEnd::OutputLost:
      return RUN_FAILED;
    case RunEnd::HelpShown:
    case RunEnd::VideoEnded:
    case RunEnd::EscPressed:
      break;
  }
  return outcome.framesFailed || outcome.outputError != 0 ? RUN_FAILED : 0;
}
