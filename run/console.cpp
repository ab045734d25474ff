#include "run/console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

Console::Console() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is this one.
    if (open("/dev/null", O_RDWR) == fd && fd == STDOUT_FILENO)
      closedError_ = EBADF;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
}

void Console::printTimingLine(const char* name, double elapsedTicks,
                              double tickFrequency) {
  int printed = std::printf("%s | capture time = %.2f ms/frame - fps = %.2f\n",
                            name, elapsedTicks * 1000.0 / tickFrequency,
                            tickFrequency / elapsedTicks);
  if (printed < 0) {
    int error = errno;
    int none = 0;
    lostError_.compare_exchange_strong(none, error);
  }
}

bool Console::close() {
  if (std::fflush(stdout) != 0) {
    int error = errno;
    int none = 0;
    lostError_.compare_exchange_strong(none, error);
  }
  int reason = lostError_.load() != 0 ? lostError_.load() : closedError_;
  if (reason == 0 && !std::ferror(stdout)) return true;
  if (reason != 0)
    std::fprintf(stderr, "Could not write to standard output: %s\n",
                 std::strerror(reason));
  else
    std::fprintf(stderr, "Could not write to standard output\n");
  return false;
}
