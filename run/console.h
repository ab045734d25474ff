// The console: standard streams kept open, stdout line-buffered, and
// output that could not be delivered noticed.
#pragma once

#include <atomic>

class Console {
 public:
  // Opens /dev/null on each standard descriptor that is closed, so that no
  // file the run opens takes its place and receives console text, and
  // makes stdout line-buffered so that each line leaves as it is printed.
  Console();

  // Prints the timing line of the frame written to name, elapsed ticks
  // after the previous one. Safe to call from any one thread at a time.
  void printTimingLine(const char* name, double elapsedTicks,
                       double tickFrequency);

  // Whether a line could not be delivered: the reader went away or the
  // output failed, and printing more cannot help.
  bool outputLost() const { return lostError_.load() != 0; }

  // Flushes stdout; when output was lost or stdout was closed at start,
  // says so on stderr. Returns false in those cases.
  bool close();

 private:
  int closedError_ = 0;  // EBADF when stdout was closed at start
  std::atomic<int> lostError_{0};
};
