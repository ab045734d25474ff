// The command-line parser: options, positional names, messages and help.
#pragma once

#include "cli/run_settings.h"

// parseArguments results besides 0.
constexpr int HELP_SHOWN = -2;     // the help was printed; end with status 0
constexpr int BAD_ARGUMENTS = -1;  // a text did not fit its field

extern const char HELP_TEXT[];

// True when text starts with a dash or is empty.
bool isOption(const char* text);

// Applies the command line to settings, which must hold the defaults.
// Messages go to stdout; a text too long for its field is reported on
// stderr and gives BAD_ARGUMENTS.
int parseArguments(int argc, const char* const* argv, RunSettings& settings);
