// A V4L2 camera in user space, for tests on machines with no camera and no
// V4L2 in their kernel. Loaded with LD_PRELOAD, it makes /dev/videoN exist
// for the process: open gives a real eventfd that is readable exactly while
// a filled buffer waits, so the caller's own select and poll work as with a
// driver; buffers live in a memfd that mmap maps; a thread fills the oldest
// queued buffer at the frame rate and drops the frame when none is queued.
// Each frame carries its number in its top rows (32 blocks, most significant
// bit first, white for one, and the inverted blocks below them) and its
// capture time (CLOCK_MONOTONIC) in the buffer's timestamp.
//
// Set by environment:
//   TEST_CAMERA_INDEX         N of /dev/videoN (0)
//   TEST_CAMERA_FPS           frame rates offered, "30,15,7.5": the first
//                             until S_PARM asks for another (30)
//   TEST_CAMERA_SIZES         sizes offered, "640x480,320x240" (640x480)
//   TEST_CAMERA_FORMATS       formats offered, "YUYV,MJPG" (both)
//   TEST_CAMERA_UNPLUG_AFTER  unplugged after N frames: ioctls fail with
//                             ENODEV and poll reports a hang-up
//   TEST_CAMERA_HANG_AFTER    no frame after N frames, no error either
//   TEST_CAMERA_OPEN_ERRNO    open fails with this errno
//   TEST_CAMERA_BUSY          S_FMT and REQBUFS fail with EBUSY
//   TEST_CAMERA_MAX_BUFFERS   the most buffers REQBUFS grants (32)
//   TEST_CAMERA_NO_LISTS      ENUM_FRAMESIZES and ENUM_FRAMEINTERVALS fail
//                             with ENOTTY, as drivers may have them
//   TEST_CAMERA_NO_DHT        MJPEG frames without their Huffman tables,
//                             as many cameras give them
//   TEST_CAMERA_DAMAGE_EVERY  every Nth MJPEG frame is cut in half
//   TEST_CAMERA_BAD_HEADER_EVERY  every Nth MJPEG frame has a frame header
//                             that TEST_CAMERA_BAD_HEADER makes bad:
//                             "precision" (12-bit samples, which libjpeg
//                             refuses; the default) or "size" (it states
//                             16384x16384)
//   TEST_CAMERA_SAVE_DIR      directory that gets each MJPEG frame as N.jpg,
//                             whole and with its tables
//   TEST_CAMERA_TRACE         file that gets a line per frame filled,
//                             dropped or dequeued, with times in ns, and
//                             the rate each S_PARM sets; a
//                             filled line also gives the CPU time of the
//                             process and of the camera's own thread, so
//                             that a benchmark can leave the camera out
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <thread>
#include <vector>

namespace {

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

using OpenFunction = int (*)(const char*, int, ...);
using OpenAtFunction = int (*)(int, const char*, int, ...);
using CloseFunction = int (*)(int);
using IoctlFunction = int (*)(int, unsigned long, void*);
using MmapFunction = void* (*)(void*, size_t, int, int, int, off_t);
using StatFunction = int (*)(const char*, struct stat*);
using FstatFunction = int (*)(int, struct stat*);
using DupFunction = int (*)(int);
using Dup2Function = int (*)(int, int);
using Dup3Function = int (*)(int, int, int);

long setting(const char* name, long fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' ? std::atol(value) : fallback;
}

int64_t nowNs(clockid_t clock) {
  timespec now;
  clock_gettime(clock, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}
int64_t monotonicNs() { return nowNs(CLOCK_MONOTONIC); }

// The body of the JPEG's frame header (SOF0, as libjpeg writes it), past
// its length, or null.
unsigned char* frameHeader(std::vector<unsigned char>& jpeg) {
  size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xC0)
    at += 2 + (jpeg[at + 2] << 8 | jpeg[at + 3]);
  return at + 9 <= jpeg.size() ? &jpeg[at + 4] : nullptr;
}

// Makes the JPEG's frame header bad in the way kind says.
void spoilHeader(std::vector<unsigned char>& jpeg, const std::string& kind) {
  unsigned char* header = frameHeader(jpeg);
  if (header == nullptr) return;
  if (kind == "size") {
    header[1] = header[3] = 0x40;
    header[2] = header[4] = 0;
  } else {
    header[0] = 12;
  }
}

// The JPEG without its DHT segments.
std::vector<unsigned char> withoutTables(const std::vector<unsigned char>& in) {
  std::vector<unsigned char> out(in.begin(), in.begin() + 2);
  size_t at = 2;
  while (at + 4 <= in.size() && in[at] == 0xFF && in[at + 1] != 0xDA) {
    size_t length = 2 + (in[at + 2] << 8 | in[at + 3]);
    if (in[at + 1] != 0xC4)
      out.insert(out.end(), in.begin() + at, in.begin() + at + length);
    at += length;
  }
  out.insert(out.end(), in.begin() + at, in.end());
  return out;
}

struct Size {
  uint32_t width, height;
};

uint32_t frameBytes(uint32_t format, const Size& size) {
  (void)format;  // a JPEG gets the room of the raw frame
  return size.width * size.height * 2;
}

struct Buffer {
  bool queued = false;
  bool done = false;
  uint32_t bytesUsed = 0;
  uint32_t sequence = 0;
  int64_t captured = 0;
};

class Camera {
 public:
  Camera() {
    index_ = static_cast<int>(setting("TEST_CAMERA_INDEX", 0));
    path_ = "/dev/video" + std::to_string(index_);
    const char* rates = std::getenv("TEST_CAMERA_FPS");
    for (const char* at = rates != nullptr ? rates : "30"; *at != '\0';) {
      double rate = std::atof(at);
      if (rate > 0) rates_.push_back(rate);
      at += std::strcspn(at, ",");
      at += *at == ',';
    }
    if (rates_.empty()) rates_.push_back(30);
    fps_ = rates_[0];
    withoutTables_ = setting("TEST_CAMERA_NO_DHT", 0) != 0;
    noLists_ = setting("TEST_CAMERA_NO_LISTS", 0) != 0;
    damageEvery_ = setting("TEST_CAMERA_DAMAGE_EVERY", 0);
    badHeaderEvery_ = setting("TEST_CAMERA_BAD_HEADER_EVERY", 0);
    const char* badHeader = std::getenv("TEST_CAMERA_BAD_HEADER");
    if (badHeader != nullptr) badHeader_ = badHeader;
    const char* saveDir = std::getenv("TEST_CAMERA_SAVE_DIR");
    if (saveDir != nullptr) saveDir_ = saveDir;
    unplugAfter_ = setting("TEST_CAMERA_UNPLUG_AFTER", -1);
    hangAfter_ = setting("TEST_CAMERA_HANG_AFTER", -1);
    openErrno_ = static_cast<int>(setting("TEST_CAMERA_OPEN_ERRNO", 0));
    busy_ = setting("TEST_CAMERA_BUSY", 0) != 0;
    maxBuffers_ = static_cast<uint32_t>(setting("TEST_CAMERA_MAX_BUFFERS", 32));
    const char* sizes = std::getenv("TEST_CAMERA_SIZES");
    for (const char* at = sizes != nullptr ? sizes : "640x480"; *at != '\0';) {
      Size size = {0, 0};
      if (std::sscanf(at, "%ux%u", &size.width, &size.height) == 2)
        sizes_.push_back(size);
      at += std::strcspn(at, ",");
      at += *at == ',';
    }
    const char* formats = std::getenv("TEST_CAMERA_FORMATS");
    std::string offered = formats != nullptr ? formats : "YUYV,MJPG";
    if (offered.find("YUYV") != std::string::npos)
      formats_.push_back(V4L2_PIX_FMT_YUYV);
    if (offered.find("MJPG") != std::string::npos)
      formats_.push_back(V4L2_PIX_FMT_MJPEG);
    format_ = formats_.empty() ? V4L2_PIX_FMT_YUYV : formats_[0];
    size_ = sizes_.empty() ? Size{640, 480} : sizes_[0];
    const char* trace = std::getenv("TEST_CAMERA_TRACE");
    if (trace != nullptr) trace_ = std::fopen(trace, "w");
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) == 0) {
      next<CloseFunction>("close")(pipeEnds[1]);
      hangUp_ = pipeEnds[0];  // a pipe with no writer: poll says POLLHUP
    }
  }

  bool isPath(const char* path) const {
    return path != nullptr && path_ == path;
  }
  bool isOurs(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    return handles_.count(fd) != 0;
  }

  void describe(struct stat* status) const {
    std::memset(status, 0, sizeof *status);
    status->st_mode = S_IFCHR | 0660;
    status->st_rdev = makedev(81, index_);
    status->st_ino = 0x7e57ca00 + index_;
    status->st_nlink = 1;
  }

  int open(int flags) {
    if (openErrno_ != 0) {
      errno = openErrno_;
      return -1;
    }
    int fd = eventfd(0, EFD_NONBLOCK | (flags & O_CLOEXEC ? EFD_CLOEXEC : 0));
    if (fd < 0) return -1;
    std::lock_guard<std::mutex> lock(mutex_);
    int handle = nextHandle_++;
    handles_[fd] = handle;
    blocking_[handle] = (flags & O_NONBLOCK) == 0;
    if (owner_ == 0) readyFd_ = fd;
    return fd;
  }

  void duplicated(int fd, int copy) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = handles_.find(fd);
    if (found != handles_.end() && copy >= 0 && copy != fd)
      handles_[copy] = found->second;
  }

  // Forgets fd; when it was the last descriptor of the open file that owns
  // the buffers, streaming stops and the buffers go.
  void closed(int fd) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto found = handles_.find(fd);
    if (found == handles_.end()) return;
    int handle = found->second;
    handles_.erase(found);
    for (auto& entry : handles_)
      if (entry.second == handle) {
        if (readyFd_ == fd) readyFd_ = entry.first;
        return;
      }
    if (handle == owner_) {
      stopStreaming(lock);
      freeBuffers();
      owner_ = 0;
    }
  }

  int ioctl(int fd, unsigned long request, void* argument) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (unplugged_) return failWith(ENODEV);
    int handle = handles_[fd];
    switch (request) {
      case VIDIOC_QUERYCAP:
        return queryCapability(static_cast<v4l2_capability*>(argument));
      case VIDIOC_ENUM_FMT:
        return enumerateFormat(static_cast<v4l2_fmtdesc*>(argument));
      case VIDIOC_G_FMT:
        return getFormat(static_cast<v4l2_format*>(argument));
      case VIDIOC_TRY_FMT:
        return setFormat(static_cast<v4l2_format*>(argument), false);
      case VIDIOC_S_FMT:
        if (busy_ || (owner_ != 0 && owner_ != handle) || !buffers_.empty())
          return failWith(EBUSY);
        return setFormat(static_cast<v4l2_format*>(argument), true);
      case VIDIOC_G_PARM:
        return streamParameters(static_cast<v4l2_streamparm*>(argument));
      case VIDIOC_S_PARM:
        return setRate(static_cast<v4l2_streamparm*>(argument));
      case VIDIOC_ENUM_FRAMESIZES:
        if (noLists_) return failWith(ENOTTY);
        return enumerateSizes(static_cast<v4l2_frmsizeenum*>(argument));
      case VIDIOC_ENUM_FRAMEINTERVALS:
        if (noLists_) return failWith(ENOTTY);
        return enumerateIntervals(static_cast<v4l2_frmivalenum*>(argument));
      case VIDIOC_G_INPUT:
        *static_cast<int*>(argument) = 0;
        return 0;
      case VIDIOC_S_INPUT:
        return *static_cast<int*>(argument) == 0 ? 0 : failWith(EINVAL);
      case VIDIOC_ENUMINPUT:
        return enumerateInput(static_cast<v4l2_input*>(argument));
      case VIDIOC_REQBUFS:
        if (busy_ || (owner_ != 0 && owner_ != handle)) return failWith(EBUSY);
        return requestBuffers(static_cast<v4l2_requestbuffers*>(argument),
                              handle, lock);
      case VIDIOC_QUERYBUF:
        return queryBuffer(static_cast<v4l2_buffer*>(argument));
      case VIDIOC_QBUF:
        return queueBuffer(static_cast<v4l2_buffer*>(argument));
      case VIDIOC_DQBUF:
        return dequeueBuffer(static_cast<v4l2_buffer*>(argument),
                             blocking_[handle], lock);
      case VIDIOC_STREAMON:
        return startStreaming();
      case VIDIOC_STREAMOFF:
        stopStreaming(lock);
        return 0;
      default:
        return failWith(isControl(request) ? EINVAL : ENOTTY);
    }
  }

  void* map(void* address, size_t length, int protection, int flags,
            off_t offset) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (memory_ < 0) {
      errno = EINVAL;
      return MAP_FAILED;
    }
    return next<MmapFunction>("mmap")(address, length, protection, flags,
                                      memory_, offset);
  }

 private:
  static int failWith(int error) {
    errno = error;
    return -1;
  }

  static bool isControl(unsigned long request) {
    return request == VIDIOC_QUERYCTRL || request == VIDIOC_G_CTRL ||
           request == VIDIOC_S_CTRL || request == VIDIOC_QUERY_EXT_CTRL ||
           request == VIDIOC_G_EXT_CTRLS || request == VIDIOC_S_EXT_CTRLS ||
           request == VIDIOC_TRY_EXT_CTRLS || request == VIDIOC_QUERYMENU;
  }

  bool offers(uint32_t format) const {
    for (uint32_t offered : formats_)
      if (offered == format) return true;
    return false;
  }

  int queryCapability(v4l2_capability* capability) {
    std::memset(capability, 0, sizeof *capability);
    std::snprintf(reinterpret_cast<char*>(capability->driver),
                  sizeof capability->driver, "testcam");
    std::snprintf(reinterpret_cast<char*>(capability->card),
                  sizeof capability->card, "Test Camera %d", index_);
    std::snprintf(reinterpret_cast<char*>(capability->bus_info),
                  sizeof capability->bus_info, "platform:testcam-%d", index_);
    capability->version = 0x050a00;
    capability->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    capability->capabilities = capability->device_caps | V4L2_CAP_DEVICE_CAPS;
    return 0;
  }

  int enumerateFormat(v4l2_fmtdesc* description) {
    if (description->type != V4L2_BUF_TYPE_VIDEO_CAPTURE ||
        description->index >= formats_.size())
      return failWith(EINVAL);
    uint32_t format = formats_[description->index];
    description->pixelformat = format;
    description->flags =
        format == V4L2_PIX_FMT_MJPEG ? V4L2_FMT_FLAG_COMPRESSED : 0;
    std::snprintf(reinterpret_cast<char*>(description->description),
                  sizeof description->description, "%s",
                  format == V4L2_PIX_FMT_MJPEG ? "Motion-JPEG" : "YUYV 4:2:2");
    return 0;
  }

  void fillFormat(v4l2_pix_format& pixels) const {
    pixels.width = size_.width;
    pixels.height = size_.height;
    pixels.pixelformat = format_;
    pixels.field = V4L2_FIELD_NONE;
    pixels.bytesperline = format_ == V4L2_PIX_FMT_YUYV ? size_.width * 2 : 0;
    pixels.sizeimage = frameBytes(format_, size_);
    pixels.colorspace = V4L2_COLORSPACE_SRGB;
  }

  int getFormat(v4l2_format* format) {
    if (format->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return failWith(EINVAL);
    std::memset(&format->fmt, 0, sizeof format->fmt);
    fillFormat(format->fmt.pix);
    return 0;
  }

  // As drivers do, a format or size not offered is replaced by one that is.
  int setFormat(v4l2_format* format, bool apply) {
    if (format->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return failWith(EINVAL);
    uint32_t pixelFormat = offers(format->fmt.pix.pixelformat)
                               ? format->fmt.pix.pixelformat
                               : format_;
    Size size = sizes_.empty() ? size_ : sizes_[0];
    for (const Size& offered : sizes_)
      if (offered.width == format->fmt.pix.width &&
          offered.height == format->fmt.pix.height)
        size = offered;
    Size keptSize = size_;
    uint32_t keptFormat = format_;
    size_ = size;
    format_ = pixelFormat;
    std::memset(&format->fmt, 0, sizeof format->fmt);
    fillFormat(format->fmt.pix);
    if (!apply) {
      size_ = keptSize;
      format_ = keptFormat;
    }
    return 0;
  }

  int streamParameters(v4l2_streamparm* parameters) {
    if (parameters->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
      return failWith(EINVAL);
    std::memset(&parameters->parm, 0, sizeof parameters->parm);
    parameters->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
    parameters->parm.capture.timeperframe = intervalOf(fps_);
    return 0;
  }

  // A rate as its frame interval, in thousandths of a second: 7.5 fps is
  // 1000/7500.
  static v4l2_fract intervalOf(double rate) {
    return {1000, static_cast<uint32_t>(rate * 1000 + 0.5)};
  }

  // As drivers do, the rate offered nearest to the one asked for.
  int setRate(v4l2_streamparm* parameters) {
    if (parameters->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
      return failWith(EINVAL);
    const v4l2_fract& asked = parameters->parm.capture.timeperframe;
    if (asked.numerator != 0 && asked.denominator != 0) {
      double rate = static_cast<double>(asked.denominator) / asked.numerator;
      for (double offered : rates_)
        if (std::abs(offered - rate) < std::abs(fps_ - rate)) fps_ = offered;
    }
    if (trace_ != nullptr) std::fprintf(trace_, "rate %g\n", fps_);
    return streamParameters(parameters);
  }

  int enumerateSizes(v4l2_frmsizeenum* sizes) {
    if (!offers(sizes->pixel_format) || sizes->index >= sizes_.size())
      return failWith(EINVAL);
    sizes->type = V4L2_FRMSIZE_TYPE_DISCRETE;
    sizes->discrete = {sizes_[sizes->index].width, sizes_[sizes->index].height};
    return 0;
  }

  int enumerateIntervals(v4l2_frmivalenum* intervals) {
    if (!offers(intervals->pixel_format) || intervals->index >= rates_.size())
      return failWith(EINVAL);
    intervals->type = V4L2_FRMIVAL_TYPE_DISCRETE;
    intervals->discrete = intervalOf(rates_[intervals->index]);
    return 0;
  }

  int enumerateInput(v4l2_input* input) {
    if (input->index != 0) return failWith(EINVAL);
    std::memset(input, 0, sizeof *input);
    std::snprintf(reinterpret_cast<char*>(input->name), sizeof input->name,
                  "Camera %d", index_);
    input->type = V4L2_INPUT_TYPE_CAMERA;
    return 0;
  }

  int requestBuffers(v4l2_requestbuffers* request, int handle,
                     std::unique_lock<std::mutex>& lock) {
    if (request->memory != V4L2_MEMORY_MMAP ||
        request->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
      return failWith(EINVAL);
    if (streaming_) return failWith(EBUSY);
    stopStreaming(lock);
    freeBuffers();
    owner_ = 0;
    if (request->count == 0) return 0;
    uint32_t count = std::min(request->count, std::max(maxBuffers_, 1u));
    long page = sysconf(_SC_PAGESIZE);
    bufferSize_ = (frameBytes(format_, size_) + page - 1) / page * page;
    memory_ = memfd_create("test-camera", MFD_CLOEXEC);
    if (memory_ < 0 || ftruncate(memory_, bufferSize_ * count) != 0) {
      freeBuffers();
      return failWith(ENOMEM);
    }
    pixels_ = static_cast<unsigned char*>(next<MmapFunction>("mmap")(
        nullptr, bufferSize_ * count, PROT_READ | PROT_WRITE, MAP_SHARED,
        memory_, 0));
    buffers_.assign(count, Buffer());
    request->count = count;
    owner_ = handle;
    for (auto& entry : handles_)
      if (entry.second == handle) readyFd_ = entry.first;
    return 0;
  }

  void describeBuffer(uint32_t index, v4l2_buffer* buffer) const {
    const Buffer& own = buffers_[index];
    buffer->index = index;
    buffer->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer->memory = V4L2_MEMORY_MMAP;
    buffer->length = static_cast<uint32_t>(bufferSize_);
    buffer->m.offset = static_cast<uint32_t>(bufferSize_ * index);
    buffer->bytesused = own.bytesUsed;
    buffer->field = V4L2_FIELD_NONE;
    buffer->sequence = own.sequence;
    buffer->timestamp.tv_sec = own.captured / 1000000000;
    buffer->timestamp.tv_usec = own.captured % 1000000000 / 1000;
    buffer->flags = V4L2_BUF_FLAG_MAPPED | V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC |
                    (own.queued ? V4L2_BUF_FLAG_QUEUED : 0) |
                    (own.done ? V4L2_BUF_FLAG_DONE : 0);
  }

  int queryBuffer(v4l2_buffer* buffer) {
    if (buffer->index >= buffers_.size()) return failWith(EINVAL);
    describeBuffer(buffer->index, buffer);
    return 0;
  }

  int queueBuffer(v4l2_buffer* buffer) {
    if (buffer->index >= buffers_.size() || buffer->memory != V4L2_MEMORY_MMAP)
      return failWith(EINVAL);
    Buffer& own = buffers_[buffer->index];
    if (own.queued || own.done) return failWith(EINVAL);
    own.queued = true;
    queued_.push_back(buffer->index);
    describeBuffer(buffer->index, buffer);
    return 0;
  }

  int dequeueBuffer(v4l2_buffer* buffer, bool blocking,
                    std::unique_lock<std::mutex>& lock) {
    if (!streaming_) return failWith(EINVAL);
    if (blocking)
      filled_.wait(lock,
                   [&] { return !done_.empty() || unplugged_ || !streaming_; });
    if (unplugged_) return failWith(ENODEV);
    if (done_.empty()) return failWith(EAGAIN);
    uint32_t index = done_.front();
    done_.pop_front();
    Buffer& own = buffers_[index];
    own.done = false;
    describeBuffer(index, buffer);
    updateReadiness();
    if (trace_ != nullptr)
      std::fprintf(trace_, "dequeued %u %lld %lld\n", own.sequence,
                   static_cast<long long>(own.captured),
                   static_cast<long long>(monotonicNs()));
    return 0;
  }

  int startStreaming() {
    if (buffers_.empty()) return failWith(EINVAL);
    if (streaming_) return 0;
    streaming_ = true;
    stopping_ = false;
    filler_ = std::thread(&Camera::fillFrames, this);
    return 0;
  }

  // Stops the frames and gives every buffer back to the caller.
  void stopStreaming(std::unique_lock<std::mutex>& lock) {
    if (filler_.joinable()) {
      stopping_ = true;
      wake_.notify_all();
      lock.unlock();
      filler_.join();
      lock.lock();
    }
    streaming_ = false;
    queued_.clear();
    done_.clear();
    for (Buffer& buffer : buffers_) buffer.queued = buffer.done = false;
    updateReadiness();
    filled_.notify_all();
  }

  void freeBuffers() {
    if (pixels_ != nullptr) munmap(pixels_, bufferSize_ * buffers_.size());
    if (memory_ >= 0) next<CloseFunction>("close")(memory_);
    pixels_ = nullptr;
    memory_ = -1;
    buffers_.clear();
  }

  // The descriptor polls readable exactly while a filled buffer waits.
  void updateReadiness() {
    bool ready = !done_.empty();
    if (ready == signalled_ || readyFd_ < 0) return;
    uint64_t count = 1;
    if (ready)
      signalled_ = write(readyFd_, &count, sizeof count) == sizeof count;
    else
      signalled_ = read(readyFd_, &count, sizeof count) != sizeof count;
  }

  void unplug() {
    unplugged_ = true;
    uint64_t count = 1;
    // Wakes a poll already waiting, then swaps in a hung-up pipe for the
    // polls to come.
    for (auto& entry : handles_) {
      if (write(entry.first, &count, sizeof count) < 0) {
      }
      if (hangUp_ >= 0) next<Dup2Function>("dup2")(hangUp_, entry.first);
    }
    filled_.notify_all();
  }

  void drawFrame(unsigned char* data, uint32_t number, uint32_t& bytesUsed) {
    const uint32_t width = size_.width, height = size_.height;
    const uint32_t blockWidth = width / 32, blockHeight = height / 16;
    cv::Mat luma(static_cast<int>(height), static_cast<int>(width), CV_8UC1);
    for (uint32_t y = 0; y < height; ++y) {
      unsigned char* row = luma.ptr<unsigned char>(static_cast<int>(y));
      for (uint32_t x = 0; x < width; ++x) {
        uint32_t block = x / blockWidth;
        bool bit = block < 32 && (number >> (31 - block) & 1) != 0;
        if (y < blockHeight)
          row[x] = bit ? 235 : 16;
        else if (y < 2 * blockHeight)
          row[x] = bit ? 16 : 235;
        else
          row[x] = static_cast<unsigned char>(40 + (x + y + 4 * number) % 160);
      }
    }
    if (format_ == V4L2_PIX_FMT_YUYV) {
      for (uint32_t i = 0; i < width * height; ++i) {
        data[2 * i] = luma.data[i];
        data[2 * i + 1] = 128;
      }
      bytesUsed = width * height * 2;
      return;
    }
    // Grey in three channels, by hand: the library's conversion would run
    // on its worker threads, whose time a benchmark could not tell from
    // the program's.
    cv::Mat colour(luma.rows, luma.cols, CV_8UC3);
    for (size_t i = 0; i < luma.total(); ++i)
      colour.data[3 * i] = colour.data[3 * i + 1] = colour.data[3 * i + 2] =
          luma.data[i];
    std::vector<unsigned char> jpeg;
    cv::imencode(".jpg", colour, jpeg);
    if (!saveDir_.empty()) {
      std::string path = saveDir_ + "/" + std::to_string(number) + ".jpg";
      if (FILE* saved = std::fopen(path.c_str(), "wb")) {
        std::fwrite(jpeg.data(), 1, jpeg.size(), saved);
        std::fclose(saved);
      }
    }
    if (withoutTables_) jpeg = withoutTables(jpeg);
    if (badHeaderEvery_ > 0 && number % badHeaderEvery_ == badHeaderEvery_ - 1)
      spoilHeader(jpeg, badHeader_);
    if (damageEvery_ > 0 && number % damageEvery_ == damageEvery_ - 1)
      jpeg.resize(jpeg.size() / 2);
    bytesUsed =
        static_cast<uint32_t>(std::min<size_t>(jpeg.size(), bufferSize_));
    std::memcpy(data, jpeg.data(), bytesUsed);
  }

  void fillFrames() {
    using Clock = std::chrono::steady_clock;
    auto due = Clock::now();
    std::unique_lock<std::mutex> lock(mutex_);
    for (uint32_t number = 0;; ++number) {
      due += std::chrono::nanoseconds(static_cast<int64_t>(1e9 / fps_));
      if (wake_.wait_until(lock, due, [&] { return stopping_; })) return;
      if (unplugAfter_ >= 0 && number >= unplugAfter_) {
        unplug();
        return;
      }
      if (hangAfter_ >= 0 && number >= hangAfter_) continue;
      if (queued_.empty()) {
        if (trace_ != nullptr)
          std::fprintf(trace_, "dropped %u %lld\n", number,
                       static_cast<long long>(monotonicNs()));
        continue;
      }
      uint32_t index = queued_.front();
      queued_.pop_front();
      Buffer& buffer = buffers_[index];
      lock.unlock();  // the buffer is neither queued nor done: it is ours
      drawFrame(pixels_ + bufferSize_ * index, number, buffer.bytesUsed);
      // Stamped once whole: drawing it stands for the camera's own work.
      int64_t captured = monotonicNs();
      lock.lock();
      buffer.queued = false;
      buffer.done = true;
      buffer.sequence = number;
      buffer.captured = captured;
      done_.push_back(index);
      if (trace_ != nullptr)
        std::fprintf(trace_, "filled %u %lld %lld %lld\n", number,
                     static_cast<long long>(captured),
                     static_cast<long long>(nowNs(CLOCK_PROCESS_CPUTIME_ID)),
                     static_cast<long long>(nowNs(CLOCK_THREAD_CPUTIME_ID)));
      updateReadiness();
      filled_.notify_all();
    }
  }

  int index_;
  std::string path_;
  std::vector<double> rates_;
  double fps_;  // the rate set
  bool withoutTables_;
  bool noLists_;
  long damageEvery_;
  long badHeaderEvery_;
  std::string badHeader_;
  std::string saveDir_;
  long unplugAfter_, hangAfter_;
  int openErrno_;
  bool busy_;
  uint32_t maxBuffers_;
  std::vector<Size> sizes_;
  std::vector<uint32_t> formats_;
  FILE* trace_ = nullptr;
  int hangUp_ = -1;

  std::mutex mutex_;
  std::map<int, int> handles_;  // descriptor -> open file
  std::map<int, bool> blocking_;
  int nextHandle_ = 1;
  int owner_ = 0;  // the open file that holds the buffers
  int readyFd_ = -1;
  bool signalled_ = false;
  uint32_t format_;
  Size size_;
  size_t bufferSize_ = 0;
  int memory_ = -1;
  unsigned char* pixels_ = nullptr;
  std::vector<Buffer> buffers_;
  std::deque<uint32_t> queued_, done_;
  bool streaming_ = false, stopping_ = false, unplugged_ = false;
  std::condition_variable wake_, filled_;
  std::thread filler_;
};

Camera& camera() {
  static Camera* instance = new Camera();  // outlives every other static
  return *instance;
}

int openPath(const char* path, int flags, mode_t mode, OpenFunction passOn) {
  if (camera().isPath(path)) return camera().open(flags);
  return passOn(path, flags, mode);
}

mode_t modeOf(int flags, va_list& arguments) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(arguments, mode_t) : 0;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  mode_t mode = modeOf(flags, arguments);
  va_end(arguments);
  return openPath(path, flags, mode, next<OpenFunction>("open"));
}

int open64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  mode_t mode = modeOf(flags, arguments);
  va_end(arguments);
  return openPath(path, flags, mode, next<OpenFunction>("open64"));
}

int __open_2(const char* path, int flags) {
  return openPath(path, flags, 0, next<OpenFunction>("open"));
}

int __open64_2(const char* path, int flags) {
  return openPath(path, flags, 0, next<OpenFunction>("open64"));
}

int openat(int directory, const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  mode_t mode = modeOf(flags, arguments);
  va_end(arguments);
  if (camera().isPath(path)) return camera().open(flags);
  return next<OpenAtFunction>("openat")(directory, path, flags, mode);
}

int close(int fd) {
  camera().closed(fd);
  return next<CloseFunction>("close")(fd);
}

int dup(int fd) {
  int copy = next<DupFunction>("dup")(fd);
  camera().duplicated(fd, copy);
  return copy;
}

int dup2(int fd, int copy) {
  if (fd != copy) camera().closed(copy);
  int result = next<Dup2Function>("dup2")(fd, copy);
  camera().duplicated(fd, result);
  return result;
}

int dup3(int fd, int copy, int flags) {
  if (fd != copy) camera().closed(copy);
  int result = next<Dup3Function>("dup3")(fd, copy, flags);
  camera().duplicated(fd, result);
  return result;
}

int ioctl(int fd, unsigned long request, ...) {
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  if (camera().isOurs(fd)) return camera().ioctl(fd, request, argument);
  return next<IoctlFunction>("ioctl")(fd, request, argument);
}

void* mmap(void* address, size_t length, int protection, int flags, int fd,
           off_t offset) {
  if (fd >= 0 && camera().isOurs(fd))
    return camera().map(address, length, protection, flags, offset);
  return next<MmapFunction>("mmap")(address, length, protection, flags, fd,
                                    offset);
}

void* mmap64(void* address, size_t length, int protection, int flags, int fd,
             off_t offset) {
  return mmap(address, length, protection, flags, fd, offset);
}

int stat(const char* path, struct stat* status) {
  if (!camera().isPath(path)) return next<StatFunction>("stat")(path, status);
  camera().describe(status);
  return 0;
}

int stat64(const char* path, struct stat64* status) {
  return stat(path, reinterpret_cast<struct stat*>(status));
}

int lstat(const char* path, struct stat* status) {
  if (!camera().isPath(path)) return next<StatFunction>("lstat")(path, status);
  camera().describe(status);
  return 0;
}

int fstat(int fd, struct stat* status) {
  if (!camera().isOurs(fd)) return next<FstatFunction>("fstat")(fd, status);
  camera().describe(status);
  return 0;
}

}  // extern "C"
