#include "run/console.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Whether stdout was closed when the process started.
bool stdoutWasClosed = false;

// Opens /dev/null on each standard descriptor that is closed, so that no
// file opened later takes its place and receives console text. By system
// calls of its own: this early, a library that wraps open (a sanitizer, a
// preloaded one) is not ready to.
void keepStandardDescriptors(int, char**, char**) {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (syscall(SYS_fcntl, fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is this one.
    if (syscall(SYS_openat, AT_FDCWD, "/dev/null", O_RDWR) == fd &&
        fd == STDOUT_FILENO)
      stdoutWasClosed = true;
  }
}

// Run by the loader before any library initialises itself, as one may open
// a file at once (a camera library, a plugin's registry).
__attribute__((section(".preinit_array"),
               used)) void (*const keepDescriptorsFirst)(int, char**, char**) =
    keepStandardDescriptors;

}  // namespace

Console::Console() {
  keepStandardDescriptors(0, nullptr, nullptr);
  if (stdoutWasClosed) closedError_ = EBADF;
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
}

void Console::checkPrinted() {
  // stdio does not always say why; then it was the device's doing.
  if (std::fflush(stdout) != 0 || std::ferror(stdout))
    lose(errno != 0 ? errno : EIO);
}

void Console::printMessage(const char* text) { write(text, std::strlen(text)); }

void Console::printTimingLine(const char* name, double elapsedTicks,
                              double tickFrequency) {
  char figures[96];
  int length = std::snprintf(
      figures, sizeof figures, " | capture time = %.2f ms/frame - fps = %.2f\n",
      elapsedTicks * 1000.0 / tickFrequency, tickFrequency / elapsedTicks);
  if (length < 0) return;
  std::string line = name;
  line.append(figures, std::min<std::size_t>(static_cast<std::size_t>(length),
                                             sizeof figures - 1));
  write(line.data(), line.size());
}

void Console::write(const char* text, std::size_t size) {
  // With write(2), not stdio, so that nothing given up stays in a buffer
  // to block the exit.
  while (size > 0 && !dropping_.load() && !outputLost()) {
    writingSince_.store(
        std::chrono::steady_clock::now().time_since_epoch().count());
    ssize_t written = ::write(STDOUT_FILENO, text, size);
    writingSince_.store(0);
    if (written < 0) {
      // Interrupted only when the run is told to stop waiting for it.
      if (errno != EINTR) lose(errno);
      return;
    }
    text += written;
    size -= static_cast<std::size_t>(written);
  }
}

bool Console::stalledFor(std::chrono::milliseconds limit) const {
  int64_t since = writingSince_.load();
  if (since == 0) return false;
  std::chrono::steady_clock::duration waited =
      std::chrono::steady_clock::now().time_since_epoch() -
      std::chrono::steady_clock::duration(since);
  return waited > limit;
}

void Console::lose(int error) {
  int none = 0;
  lostError_.compare_exchange_strong(none, error);
}

int Console::close() {
  checkPrinted();
  if (lostError_.load() != 0) return lostError_.load();
  return closedError_;
}
