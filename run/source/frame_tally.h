// What a source's frames came to: those it gave, and those it held that
// were lost to damage on the way.
#pragma once

#include <cstdint>

class FrameTally {
 public:
  void frameGiven() { ++given_; }

  // count frames were lost before the frame to be given next.
  void framesLost(int64_t count) {
    if (count <= 0) return;
    if (lost_ == 0) firstLostAfter_ = given_;
    lost_ += count;
  }

  int64_t given() const { return given_; }
  int64_t lost() const { return lost_; }
  // How many frames were given before the first that was lost.
  int64_t firstLostAfter() const { return firstLostAfter_; }

 private:
  int64_t given_ = 0;
  int64_t lost_ = 0;
  int64_t firstLostAfter_ = 0;
};
