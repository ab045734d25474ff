#include "run/source/stated_length.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

double rateOf(const AVStream& stream) {
  double rate = av_q2d(stream.avg_frame_rate);
  if (!(std::isfinite(rate) && rate > 0)) rate = av_q2d(stream.r_frame_rate);
  return std::isfinite(rate) && rate > 0 ? rate : 0;
}

double startMsOf(const AVStream& stream) {
  return stream.start_time == AV_NOPTS_VALUE
             ? 0
             : stream.start_time * av_q2d(stream.time_base) * 1000;
}

// A duration as Matroska's DURATION tag has it, H:MM:SS.fraction, in ms;
// NAN when text is not one. Read without the locale, which may want a
// decimal comma.
double taggedMs(const char* text) {
  unsigned hours = 0, minutes = 0, seconds = 0;
  int used = 0;
  if (std::sscanf(text, "%u:%u:%u%n", &hours, &minutes, &seconds, &used) != 3)
    return NAN;
  double ms = ((hours * 60.0 + minutes) * 60 + seconds) * 1000;
  const char* rest = text + used;
  if (*rest == '.') {
    double unit = 100;
    for (++rest; std::isdigit(static_cast<unsigned char>(*rest)); ++rest) {
      ms += (*rest - '0') * unit;
      unit /= 10;
    }
  }
  return *rest == '\0' ? ms : NAN;
}

// Whether stream video is all that a container's duration can measure: no
// sound, subtitles or other video beside it.
bool videoAlone(const AVFormatContext& container, int video) {
  for (unsigned i = 0; i < container.nb_streams; ++i) {
    const AVStream& stream = *container.streams[i];
    bool picture = (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    if (static_cast<int>(i) != video && !picture &&
        stream.codecpar->codec_type != AVMEDIA_TYPE_ATTACHMENT)
      return false;
  }
  return true;
}

// Where the container's stated duration ends, in ms: the end of its last
// frame, counted from 0 as Matroska and FLV count it (FLV's video starts
// late by the B-frames' delay). NAN where it states none, or FFmpeg took it
// from the file's last timestamps (ts, mpg), which a file cut short has too.
double containerEndMs(const AVFormatContext& container) {
  if (container.duration_estimation_method != AVFMT_DURATION_FROM_STREAM ||
      container.duration == AV_NOPTS_VALUE || container.duration <= 0)
    return NAN;
  return container.duration / 1000.0;
}

uint64_t littleEndian(const unsigned char* bytes, int size) {
  uint64_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

// ASF's File Properties object, and where in it the play duration (100 ns
// units), the preroll (ms) and the flags are.
constexpr unsigned char ASF_FILE_PROPERTIES[16] = {
    0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
    0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr size_t PLAY_DURATION_AT = 64;
constexpr size_t PREROLL_AT = 80;
constexpr size_t FLAGS_AT = 88;
constexpr size_t FILE_PROPERTIES_SIZE = 104;
constexpr uint64_t BROADCAST = 1;  // durations are not filled in
// The Header object's own fields, after which its objects come, each with
// its id and size first.
constexpr size_t ASF_FIRST_OBJECT = 30;
constexpr size_t ASF_OBJECT_HEAD = 24;
// How much of the file the File Properties object is looked for in: its
// writers put it near the start.
constexpr size_t ASF_HEADER_READ = 65536;

// The first size bytes of the file at path, fewer where it is shorter;
// none where it cannot be read.
std::vector<unsigned char> startOf(const char* path, size_t size) {
  int file = open(path, O_RDONLY | O_CLOEXEC);
  if (file < 0) return {};
  std::vector<unsigned char> bytes;
  ssize_t got = -1;
  try {
    bytes.resize(size);
    got = pread(file, bytes.data(), size, 0);
  } catch (const std::bad_alloc&) {
  }
  close(file);
  bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return bytes;
}

// The play duration an ASF file states, less its preroll, in ms: FFmpeg
// drops it where the file is shorter than the header says, which is where
// it is needed. NAN when it is not found, or for a broadcast.
double asfPlayMs(const char* path) {
  std::vector<unsigned char> header = startOf(path, ASF_HEADER_READ);
  size_t size = header.size();
  for (size_t at = ASF_FIRST_OBJECT; at + ASF_OBJECT_HEAD <= size;) {
    const unsigned char* object = &header[at];
    uint64_t objectSize = littleEndian(object + 16, 8);
    if (std::memcmp(object, ASF_FILE_PROPERTIES, 16) == 0) {
      if (objectSize < FILE_PROPERTIES_SIZE ||
          at + FILE_PROPERTIES_SIZE > size ||
          (littleEndian(object + FLAGS_AT, 4) & BROADCAST) != 0)
        return NAN;
      return littleEndian(object + PLAY_DURATION_AT, 8) / 1e4 -
             static_cast<double>(littleEndian(object + PREROLL_AT, 8));
    }
    if (objectSize < ASF_OBJECT_HEAD || objectSize > size - at) break;
    at += objectSize;
  }
  return NAN;
}

// An AVI's main header: where it is, and where in it the frames it counts
// are (those of its first part, where it has more).
constexpr char AVI_MAIN_HEADER[] = "RIFF....AVI LIST....hdrlavih";
constexpr size_t AVI_TOTAL_FRAMES_AT = 48;

// The frames an AVI's main header counts; -1 where it has none.
int64_t aviTotalFrames(const char* path) {
  std::vector<unsigned char> start = startOf(path, AVI_TOTAL_FRAMES_AT + 4);
  if (start.size() < AVI_TOTAL_FRAMES_AT + 4) return -1;
  for (size_t i = 0; i + 1 < sizeof AVI_MAIN_HEADER; ++i)
    if (AVI_MAIN_HEADER[i] != '.' && start[i] != AVI_MAIN_HEADER[i]) return -1;
  return static_cast<int64_t>(littleEndian(&start[AVI_TOTAL_FRAMES_AT], 4));
}

}  // namespace

int64_t StatedLength::expectedFrames() const {
  if (frames > 0) return frames;
  return std::isfinite(endMs) && rate > 0 ? std::llround(endMs * rate / 1000)
                                          : 0;
}

bool indexesEveryFrame(const AVFormatContext& container) {
  const char* name = container.iformat->name;
  return std::strstr(name, "mov") != nullptr || std::strcmp(name, "avi") == 0;
}

StatedLength statedLengthOf(const AVFormatContext& container, int video,
                            int64_t indexedAtOpen, const char* path) {
  const AVStream& stream = *container.streams[video];
  StatedLength stated;
  stated.rate = rateOf(stream);
  // An index read with the header lists the frames the file holds (mp4
  // and mov mark those an edit list keeps from being shown, which are not
  // counted).
  if (indexesEveryFrame(container) && indexedAtOpen > 0) {
    stated.frames = indexedAtOpen;
    return stated;
  }
  // Where an AVI's index is lost (it is cut short) its headers count the
  // frames, unless they contradict each other: a piped AVI's stream header
  // counts 2^30, a placeholder, where its main header counts none. Its
  // duration is then worked out from the frames there are, and states
  // nothing.
  if (std::strcmp(container.iformat->name, "avi") == 0) {
    if (stream.nb_frames > 0 && stream.nb_frames == aviTotalFrames(path))
      stated.frames = stream.nb_frames;
    return stated;
  }
  // A duration stated for the video alone: Matroska's tag for each track
  // (as FFmpeg writes it), or the container's where the video is all it
  // holds, read from ASF's header where FFmpeg drops it.
  const AVDictionaryEntry* tag =
      av_dict_get(stream.metadata, "DURATION", nullptr, 0);
  double endMs = tag != nullptr ? taggedMs(tag->value) : NAN;
  if (!std::isfinite(endMs) && videoAlone(container, video))
    endMs = std::strcmp(container.iformat->name, "asf") == 0
                ? asfPlayMs(path)
                : containerEndMs(container);
  stated.endMs = endMs - startMsOf(stream);
  return stated;
}
