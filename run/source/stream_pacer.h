// Keeping a live stream's frame every so often by the stream's own times,
// for a run that asks for fewer frames a second than the stream gives.
#pragma once

class StreamPacer {
 public:
  // Keeps a frame every everyMs of stream time.
  explicit StreamPacer(double everyMs) : everyMs_(everyMs) {}

  // Offers the next frame: its time in the stream, 0 or less where the
  // stream gives none, and the time it arrived, on a clock of its own.
  // Every frame is offered, in turn. Returns whether to keep it.
  bool offer(double streamMs, double arrivedMs);

 private:
  const double everyMs_;
  bool anyKept_ = false;
  double dueMs_ = 0;  // when the next frame is due, once one was kept
  // What is added to an arrival time to make it a stream time, from the
  // last frame that had both; for a frame without a time of its own.
  double arrivalToStream_ = 0;
  bool timed_ = false;  // whether any frame had a time of its own
  double lastMs_ = 0;   // the last frame's stream time
};
