// The console: standard streams kept open, stdout line-buffered, and
// output that could not be delivered noticed.
#pragma once

struct Console {
  int outputError;  // errno of the first lost stdout output, 0 while none
};

// Opens /dev/null on each standard descriptor that is closed, so that no
// file the run opens takes its place and receives console text, and makes
// stdout line-buffered so that each line leaves as it is printed.
void openConsole(Console& console);

// Prints the timing line of the frame written to name, elapsed ticks after
// the previous one.
void printTimingLine(Console& console, const char* name, double elapsedTicks,
                     double tickFrequency);

// Flushes stdout; when output was lost, says so on stderr. Returns 0, or -1
// when output was lost.
int closeConsole(Console& console);
