#include "run/stop_signal.h"

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

constexpr int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

std::atomic<int> arrived{0};
static_assert(std::atomic<int>::is_always_lock_free,
              "the flag must be safe to set in a signal handler");

void onStopSignal(int signal) {
  if (arrived.load() != 0) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);  // delivered as soon as this handler returns
    return;
  }
  arrived.store(signal);
}

}  // namespace

void catchStopSignals() {
  struct sigaction action = {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // the run looks at the flag between frames
  for (int signal : STOP_SIGNALS) {
    struct sigaction previous;
    // One ignored when the program started (nohup, a background job)
    // stays ignored.
    if (sigaction(signal, nullptr, &previous) == 0 &&
        previous.sa_handler != SIG_IGN)
      sigaction(signal, &action, nullptr);
  }
  std::signal(SIGXFSZ, SIG_IGN);
}

int stopSignal() { return arrived.load(); }

void endBySignal(int signal) {
  std::fflush(stdout);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}
