// The process entry: reads the command line, then runs the capture.
#include "cli/argument_parser.h"
#include "run/capture_run.h"

int main(int argc, char** argv) {
  Console console;
  RunSettings settings;
  switch (parseArguments(argc, argv, settings)) {
    case ParseResult::Refused:
      return START_FAILED;
    case ParseResult::HelpShown:
      return console.close() ? 0 : RUN_FAILED;
    case ParseResult::Run:
      break;
  }
  return runCapture(settings, console);
}
