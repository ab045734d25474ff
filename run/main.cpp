// The process entry: reads the command line, then runs the capture.
#include <string>

#include "cli/argument_parser.h"
#include "cli/stream_url.h"
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
  // The stream's URL is read from here on, and its password is taken out
  // of the command line that other users can see.
  std::string url;
  if (settings.source.kind == SourceKind::NetworkStream) {
    url = settings.source.path;
    settings.source.path = url.c_str();
    hidePassword(argv[1]);
  }
  return finishRun(runCapture(settings, console));
}
