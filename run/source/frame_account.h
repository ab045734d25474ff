// What a source's frames came to: those it gave, and those it held that
// were not given, lost to damage or to an end that came too soon.
#pragma once

#include <cstdint>

struct FrameAccount {
  int64_t given = 0;
  int64_t missing = 0;
  // Whether the frames stopped before the source's end (a file cut short);
  // if not, frames followed the first one missing, which firstMissingAfter
  // came before.
  bool stopped = false;
  int64_t firstMissingAfter = 0;
};

// Counts count frames missing before the frame to be given next.
inline void countMissing(FrameAccount& account, int64_t count) {
  if (count <= 0) return;
  if (account.missing == 0) account.firstMissingAfter = account.given;
  account.missing += count;
}
