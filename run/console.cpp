#include "run/console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

void openConsole(Console& console) {
  console.outputError = 0;
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is this one.
    if (open("/dev/null", O_RDWR) == fd && fd == STDOUT_FILENO)
      console.outputError = EBADF;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
}

void printTimingLine(Console& console, const char* name, double elapsedTicks,
                     double tickFrequency) {
  int printed = std::printf("%s | capture time = %.2f ms/frame - fps = %.2f\n",
                            name, elapsedTicks * 1000.0 / tickFrequency,
                            tickFrequency / elapsedTicks);
  if (printed < 0 && console.outputError == 0) console.outputError = errno;
}

int closeConsole(Console& console) {
  if (std::fflush(stdout) != 0 && console.outputError == 0)
    console.outputError = errno;
  if (console.outputError == 0 && !std::ferror(stdout)) return 0;
  if (console.outputError != 0)
    std::fprintf(stderr, "Could not write to standard output: %s\n",
                 std::strerror(console.outputError));
  else
    std::fprintf(stderr, "Could not write to standard output\n");
  return -1;
}
