// Copies stdin to stdout, each line preceded by the CLOCK_MONOTONIC time
// (in ns) at which it arrived: the benchmark's view of when pellux printed
// a frame's timing line. A last line "NS EOF" says when stdout closed.
#include <time.h>

#include <cstdio>

namespace {

long long now() {
  timespec time;
  clock_gettime(CLOCK_MONOTONIC, &time);
  return time.tv_sec * 1000000000LL + time.tv_nsec;
}

}  // namespace

int main() {
  char line[4096];
  while (std::fgets(line, sizeof line, stdin) != nullptr)
    std::printf("%lld %s", now(), line);
  std::printf("%lld EOF\n", now());
  return 0;
}
