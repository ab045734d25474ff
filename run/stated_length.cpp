#include "run/stated_length.h"

#include <sys/stat.h>

#include "cli/stream_url.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

// A file on a web server that stops answering is not waited for longer
// than a stalled stream.
constexpr const char* NETWORK_TIMEOUT_US = "10000000";

StatedLength lengthIn(const AVFormatContext& container) {
  int video = -1;
  for (unsigned i = 0; i < container.nb_streams; ++i) {
    const AVStream& stream = *container.streams[i];
    AVMediaType type = stream.codecpar->codec_type;
    bool picture = (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    if (type == AVMEDIA_TYPE_VIDEO && !picture && video < 0) {
      video = static_cast<int>(i);
      if (stream.nb_frames > 0) return StatedLength::Exact;
    }
  }
  if (video < 0) return StatedLength::Unknown;
  // The duration is the longest stream's: an audio track that runs on
  // after the video, or starts before it, makes it no measure of frames.
  for (unsigned i = 0; i < container.nb_streams; ++i) {
    AVMediaType type = container.streams[i]->codecpar->codec_type;
    if (static_cast<int>(i) != video && type != AVMEDIA_TYPE_ATTACHMENT)
      return StatedLength::Unknown;
  }
  return StatedLength::Estimated;
}

}  // namespace

StatedLength statedLengthOf(const char* path) {
  // A pipe's bytes would be taken from the capture that reads it.
  struct stat status;
  if (!isStreamUrl(path) &&
      (stat(path, &status) != 0 || !S_ISREG(status.st_mode)))
    return StatedLength::Unknown;
  AVFormatContext* container = nullptr;
  AVDictionary* options = nullptr;
  av_dict_set(&options, "rw_timeout", NETWORK_TIMEOUT_US, 0);
  int opened = avformat_open_input(&container, path, nullptr, &options);
  av_dict_free(&options);
  if (opened < 0) return StatedLength::Unknown;
  StatedLength length = lengthIn(*container);
  avformat_close_input(&container);
  return length;
}
