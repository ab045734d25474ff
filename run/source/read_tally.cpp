#include "run/source/read_tally.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace {

// At its end a file gives failed reads only, each at no measurable cost
// (100 take under 0.3 ms, 10,000 under 30 ms). A damaged stretch gives
// about one failed read per frame it held (592 for 2 MB of an H.264 clip
// at 320x240), and never more than the frames still to come when the file
// states how many; a length stated wrongly is not waited out.
constexpr int64_t FAILED_READS_AT_AN_END = 100;
constexpr int64_t MOST_FAILED_READS = 10000;

// The capture and the demuxer work a frame's time out alike, to the bit;
// frames are 11 us apart at the finest (a 90 kHz clock).
constexpr double SAME_TIME_MS = 1e-3;

// How much of a stated duration, in frames, the demuxed frames may leave
// unfilled at its end: the last frame's length is not always known.
constexpr double UNFILLED_FRAMES = 1.5;

constexpr int64_t NONE = std::numeric_limits<int64_t>::max();

// Where the frames given fall among those demuxed.
struct Placement {
  // The first demuxed frame not given that frames given follow: how many
  // come before it.
  int64_t firstGap = NONE;
  int64_t notGivenAtEnd = 0;  // demuxed frames after the last given
  bool cutFrameGiven = true;  // the frame the file ends within
};

// Places each frame given at the demuxed frame of its time (a decoder may
// hand frames over out of order after damage); one of unknown time (the
// frames a decoder hands over at the end, and a first at 0) at the next
// demuxed after the frame before it, other than the frame the file ends
// within (at cutFrameMs) while another is left. Nothing is placed when a
// time is not among the demuxed, or more frames come than were demuxed.
// The frame the file ends within, when not given, is not one it holds.
Placement place(const std::vector<double>& given,
                const std::vector<double>& demuxed, double cutFrameMs) {
  const size_t none = demuxed.size();
  auto firstAt = [&](double time) {
    return static_cast<size_t>(
        std::lower_bound(demuxed.begin(), demuxed.end(), time - SAME_TIME_MS) -
        demuxed.begin());
  };
  auto isAt = [&](size_t at, double time) {
    return at < none && demuxed[at] <= time + SAME_TIME_MS;
  };
  size_t cut = std::isfinite(cutFrameMs) ? firstAt(cutFrameMs) : none;
  if (!isAt(cut, cutFrameMs)) cut = none;
  std::vector<bool> placed(demuxed.size());
  size_t next = 0;
  for (double time : given) {
    size_t at = next;
    if (time > 0) {
      at = firstAt(time);
      while (isAt(at, time) && placed[at]) ++at;
      if (!isAt(at, time)) return {};
    } else {
      while (at < none && (placed[at] || at == cut)) ++at;
      if (at == none) at = cut;
      if (at == none || placed[at]) return {};
    }
    placed[at] = true;
    next = at + 1;
  }
  Placement placement;
  placement.cutFrameGiven = cut == none || placed[cut];
  size_t end = demuxed.size();
  while (end > 0 && !placed[end - 1]) --end;
  for (size_t i = 0; i < demuxed.size(); ++i) {
    bool notHeld = i == cut && !placement.cutFrameGiven;
    if (placed[i] || notHeld) continue;
    if (i >= end)
      ++placement.notGivenAtEnd;
    else if (placement.firstGap == NONE)
      placement.firstGap =
          static_cast<int64_t>(i) - (cut < i && !placement.cutFrameGiven);
  }
  return placement;
}

// The frames a file holds: those it counts, or those its demuxer gives;
// or, where these leave part of the duration it states unfilled (it is cut
// short), as many as that duration holds. cut is 1 where the file ends
// within a frame that was not given.
int64_t framesHeld(const StatedLength& stated, const DemuxedFrames& demuxed,
                   int64_t cut) {
  int64_t held = stated.frames > 0 ? stated.frames : demuxed.count - cut;
  // An index that ends with that frame lists only what the file holds
  // (each fragment of an mp4 indexes its own frames).
  if (demuxed.indexed && demuxed.lastGiven) held -= cut;
  if (stated.frames > 0 && !demuxed.indexed) {
    // A header counts frames' places in time, of which a variable rate
    // leaves some empty: those among the frames demuxed are not frames.
    int64_t places = std::llround(demuxed.endMs * stated.rate / 1000);
    held -= std::max<int64_t>(0, places - demuxed.count);
  }
  bool unfilled =
      stated.frames == 0 && std::isfinite(stated.endMs) &&
      (stated.endMs - demuxed.endMs) * stated.rate / 1000 >= UNFILLED_FRAMES;
  return unfilled ? std::max(held, stated.expectedFrames()) : held;
}

}  // namespace

void ReadTally::frameRead(double timeMs) {
  if (failedInARow_ > 0) {
    countMissing(reads_, failedInARow_);
    failedInARow_ = 0;
  }
  ++reads_.given;
  if (!timesKept_) return;
  try {
    times_.push_back(std::isfinite(timeMs) && timeMs > 0 ? timeMs : 0);
  } catch (const std::bad_alloc&) {
    timesKept_ = false;
    times_ = {};
  }
}

bool ReadTally::countFailedRead() {
  ++failedInARow_;
  int64_t toCome =
      std::clamp<int64_t>(expectedFrames_ - reads_.given, 0, MOST_FAILED_READS);
  return failedInARow_ < std::max(FAILED_READS_AT_AN_END, toCome);
}

FrameAccount ReadTally::account() const { return reads_; }

FrameAccount ReadTally::account(
    const StatedLength& stated,
    const std::function<std::optional<DemuxedFrames>()>& demux) const {
  // Every frame a container counts, and no failed read: whole, without
  // reading the file again.
  if (stated.frames > 0 && reads_.given >= stated.frames && reads_.missing == 0)
    return {reads_.given};
  std::optional<DemuxedFrames> demuxed = demux();
  if (!demuxed) return account();
  Placement placement;
  if (timesKept_ &&
      static_cast<int64_t>(demuxed->timesMs.size()) == demuxed->count) {
    try {
      placement = place(times_, demuxed->timesMs, demuxed->cutFrameMs);
    } catch (const std::bad_alloc&) {
    }
  }
  int64_t cut = placement.cutFrameGiven ? 0 : 1;
  int64_t count = demuxed->count - cut;
  int64_t held = framesHeld(stated, *demuxed, cut);
  FrameAccount result = {reads_.given, held - reads_.given};
  if (result.missing <= 0) return {reads_.given};

  // Frames stop short where the demuxer did (the file is cut short) or the
  // decoder did before the demuxer's last frame.
  bool demuxerStopped = demuxed->indexed ? !demuxed->lastGiven : held > count;
  result.stopped = demuxerStopped || placement.notGivenAtEnd > 0;
  // Otherwise the first missing is where a read failed, a demuxed frame was
  // not given, or the demuxer passed over indexed frames; with none of
  // these nothing shows that frames followed.
  int64_t first = placement.firstGap;
  if (reads_.missing > 0) first = std::min(first, reads_.firstMissingAfter);
  if (demuxed->skipped > 0) first = std::min(first, demuxed->firstSkipped);
  if (first == NONE) result.stopped = true;
  if (!result.stopped) result.firstMissingAfter = first;
  return result;
}
