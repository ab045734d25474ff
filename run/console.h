// The console: standard streams kept open, stdout line-buffered, timing
// lines written as they come, and output that could not be delivered
// noticed.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

class Console {
 public:
  // Has /dev/null on each standard descriptor that was closed when the
  // process started (done before any library starts, in the program), so
  // that no file opened later takes its place and receives console text,
  // and makes stdout line-buffered so that each message leaves as it is
  // printed.
  Console();

  // Notes why the messages printed so far with stdio could not be
  // written, if they could not. Call right after printing them, while
  // errno still says why.
  void checkPrinted();

  // Prints text straight to stdout, for messages printed while other
  // threads run: a write that waits for a stalled reader can then be
  // interrupted (interruptThread), and the text is given up.
  void printMessage(const char* text);

  // Prints the timing line of the frame written to name, elapsed ticks
  // after the previous one, as printMessage does. Safe to call from any
  // one thread at a time. Once lines are dropped it prints nothing.
  void printTimingLine(const char* name, double elapsedTicks,
                       double tickFrequency);

  // Whether a line could not be delivered: the reader went away or the
  // output failed, and printing more cannot help.
  bool outputLost() const { return lostError_.load() != 0; }

  // Whether a write has waited longer than limit for the reader; from any
  // thread.
  bool stalledFor(std::chrono::milliseconds limit) const;

  // From now on lines are dropped rather than waited for, so that a reader
  // that stopped reading cannot hold a run that is told to stop.
  void dropLines() { dropping_.store(true); }

  // Flushes stdout. Returns 0, or the errno of output that was lost (EBADF
  // when stdout was closed at start).
  int close();

 private:
  void write(const char* text, std::size_t size);
  void lose(int error);

  int closedError_ = 0;  // EBADF when stdout was closed at start
  std::atomic<int> lostError_{0};
  std::atomic<bool> dropping_{false};
  // When the write under way began, on the steady clock; 0 when none is.
  std::atomic<int64_t> writingSince_{0};
};
