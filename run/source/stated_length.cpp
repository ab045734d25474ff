#include "run/source/stated_length.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

// How many packets to read looking for the video's first one.
constexpr int PACKETS_TO_FIRST_FRAME = 64;

// Where the file's first video frame starts, in seconds from the file's
// start, or NAN when none is found soon.
double firstFrameTime(AVFormatContext& container, int video) {
  AVPacket* packet = av_packet_alloc();
  if (packet == nullptr) return NAN;
  double time = NAN;
  for (int i = 0; i < PACKETS_TO_FIRST_FRAME; ++i) {
    if (av_read_frame(&container, packet) < 0) break;
    bool found = packet->stream_index == video && packet->pts != AV_NOPTS_VALUE;
    if (found) time = packet->pts * av_q2d(container.streams[video]->time_base);
    av_packet_unref(packet);
    if (found) break;
  }
  av_packet_free(&packet);
  double start = container.start_time == AV_NOPTS_VALUE
                     ? 0
                     : container.start_time / double(AV_TIME_BASE);
  return time - start;
}

StatedLength lengthIn(AVFormatContext& container) {
  int video = -1;
  for (unsigned i = 0; i < container.nb_streams; ++i) {
    const AVStream& stream = *container.streams[i];
    bool picture = (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    if (stream.codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !picture) {
      video = static_cast<int>(i);
      break;
    }
  }
  if (video < 0) return StatedLength::Unknown;
  const AVStream& stream = *container.streams[video];
  if (stream.nb_frames > 0) {
    // mp4 and mov count the frames stored, of which an edit list may play
    // only some (a copy cut with -ss): a duration they do not fill shows
    // it. avi counts the frames it was written with.
    double seconds = stream.duration == AV_NOPTS_VALUE
                         ? NAN
                         : stream.duration * av_q2d(stream.time_base);
    double slack = std::max(2.0, stream.nb_frames / 100.0);
    bool edited = std::strstr(container.iformat->name, "mov") != nullptr &&
                  !(std::fabs(seconds * av_q2d(stream.avg_frame_rate) -
                              stream.nb_frames) <= slack);
    return edited ? StatedLength::Unknown : StatedLength::Exact;
  }
  // The duration is the longest stream's: an audio track that runs on
  // after the video, or starts before it, makes it no measure of frames.
  for (unsigned i = 0; i < container.nb_streams; ++i) {
    AVMediaType type = container.streams[i]->codecpar->codec_type;
    if (static_cast<int>(i) != video && type != AVMEDIA_TYPE_ATTACHMENT)
      return StatedLength::Unknown;
  }
  // Nor is it where the video starts late: a segment cut from a longer
  // recording keeps its times.
  double rate = av_q2d(stream.avg_frame_rate);
  double start = firstFrameTime(container, video);
  if (!(rate > 0 && std::fabs(start) * rate < 1)) return StatedLength::Unknown;
  return StatedLength::Estimated;
}

}  // namespace

StatedLength statedLengthOf(const char* path) {
  // A pipe's bytes would be taken from the capture that reads it, and a
  // file on a web server would be asked for again, waiting on its server.
  struct stat status;
  if (stat(path, &status) != 0 || !S_ISREG(status.st_mode))
    return StatedLength::Unknown;
  AVFormatContext* container = nullptr;
  if (avformat_open_input(&container, path, nullptr, nullptr) < 0)
    return StatedLength::Unknown;
  StatedLength length = lengthIn(*container);
  avformat_close_input(&container);
  return length;
}
