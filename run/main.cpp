// The process entry: reads the command line, then runs the capture.
#include <cstdint>
#include <cstdio>
#include <string>

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
  // A URL is read from here on, and its secrets are taken out of the
  // command line that other users can see.
  std::string url;
  if (argc > 1 && isUrl(argv[1])) {
    url = argv[1];
    // The source's path is the URL or, for a file:// URL, its tail.
    auto offset = reinterpret_cast<std::uintptr_t>(settings.source.path) -
                  reinterpret_cast<std::uintptr_t>(argv[1]);
    if (settings.source.path != nullptr && offset <= url.size())
      settings.source.path = url.c_str() + offset;
    hideSecrets(argv[1]);
  }
  return finishRun(runCapture(settings, console));
}
