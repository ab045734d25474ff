// The process entry: reads the command line, then runs the capture.
#include "cli/argument_parser.h"
#include "run/capture_run.h"

int main(int argc, char** argv) {
  Console console;
  RunSettings settings;
  ParseResult parsed = parseArguments(argc, argv, settings);
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
