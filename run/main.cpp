// The process entry: reads the command line, then runs the capture.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/argument_parser.h"
#include "cli/stream_url.h"
#include "run/capture_run.h"
#include "run/console.h"
#include "run/run_outcome.h"
#include "run/stop_signals.h"

int main(int argc, char** argv) {
  // Before anything can start a thread, which would die of a stop signal.
  if (!blockStopSignals()) {
    std::fputs("Could not take the stop signals: other threads run already\n",
               stderr);
    return START_FAILED;
  }
  // A URL's secrets leave the command line that other users can see before
  // anything else is done, printing included; the run reads a copy.
  std::vector<const char*> arguments(argv, argv + argc);
  std::string url;
  if (argc > 1 && isUrl(argv[1])) {
    url = argv[1];
    arguments[1] = url.c_str();
    hideSecrets(argv[1]);
  }
  Console console;
  RunSettings settings;
  ParseResult parsed = parseArguments(argc, arguments.data(), settings);
  console.checkPrinted();
  switch (parsed) {
    case ParseResult::Refused:
      return START_FAILED;  // the parser said why
    case ParseResult::HelpShown: {
      RunOutcome helpShown = {RunEnd::HelpShown, {}};
      helpShown.outputError = console.close();
      return finishRun(helpShown);
    }
    case ParseResult::Run:
      break;
  }
  return finishRun(runCapture(settings, console));
}
