// The command-line parser: options, positional names, messages and help.
#pragma once

#include "cli/run_settings.h"

enum class ParseResult {
  Run,        // settings hold what the command line asks for
  HelpShown,  // the help was printed; the run ends with status 0
  Refused,    // a text did not fit its field; reported on stderr
};

extern const char HELP_TEXT[];

// True when text starts with a dash or is empty.
bool isOption(const char* text);

// Reads the command line into settings: the defaults, the source that the
// first argument (or else the environment) chooses, and what the options
// change. Messages go to stdout.
ParseResult parseArguments(int argc, const char* const* argv,
                           RunSettings& settings);
