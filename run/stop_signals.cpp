#include "run/stop_signals.h"

#include <dirent.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <system_error>
#include <utility>

namespace {

// The signals whose default action ends the process without a core dump
// that a user or a script sends: each ends the run cleanly instead, so
// that no temporary is left beside the slots.
constexpr int STOP_SIGNALS[] = {SIGINT,  SIGTERM, SIGHUP,
                                SIGPIPE, SIGUSR1, SIGUSR2};

// What interrupts a thread's blocking system call: a real-time signal that
// nothing sends by chance, since any signal that came would interrupt a
// camera's wait and end its run as if it had stopped.
int wakeSignal() { return SIGRTMIN + 2; }

constexpr timespec INTERRUPT_INTERVAL = {
    0, std::chrono::nanoseconds(STOP_CHECK_INTERVAL).count()};

// The main thread's mask before the stop signals were blocked: those of
// them it did not block are unblocked again when they are no longer taken.
// Set before any other thread starts.
sigset_t maskBeforeBlocking;

// How many threads the process has, or 0 where that cannot be told.
int threadCount() {
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return 0;
  int count = 0;
  while (dirent* entry = readdir(tasks))
    if (entry->d_name[0] != '.') ++count;
  closedir(tasks);
  return count;
}

// How long a source may go on waiting after it was told to stop before the
// run is ended without it. FFmpeg retries a network wait that is
// interrupted until its own time-out, 10 s on.
constexpr std::chrono::milliseconds STUCK_SOURCE_GRACE{500};

void onWake(int) {}

}  // namespace

bool blockStopSignals() {
  sigset_t stops;
  sigemptyset(&stops);
  for (int signal : STOP_SIGNALS) sigaddset(&stops, signal);
  pthread_sigmask(SIG_BLOCK, &stops, &maskBeforeBlocking);
  return threadCount() <= 1;
}

Result<std::unique_ptr<StopSignals>> StopSignals::start() {
  std::unique_ptr<StopSignals> signals(new StopSignals());
  // The signal thread is started with the wake-up blocked too, so that it
  // takes its own wake-up rather than have it handled; the others are not.
  sigset_t wake;
  sigemptyset(&wake);
  sigaddset(&wake, wakeSignal());
  pthread_sigmask(SIG_BLOCK, &wake, nullptr);
  int error = 0;
  try {
    signals->thread_ = std::thread(&StopSignals::takeSignals, signals.get());
  } catch (const std::system_error& failure) {
    error = failure.code().value();
  }
  pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
  if (error != 0) return SystemFailure{Step::StartThread, error};
  return signals;
}

StopSignals::StopSignals() : mainThread_(pthread_self()) {
  sigemptyset(&taken_);
  for (int signal : STOP_SIGNALS) {
    struct sigaction previous;
    if (sigaction(signal, nullptr, &previous) == 0 &&
        previous.sa_handler != SIG_IGN)
      sigaddset(&taken_, signal);
  }
  waited_ = taken_;
  sigaddset(&waited_, wakeSignal());
  // Blocked already in every thread started after blockStopSignals; again
  // here for a thread that took them before (an earlier run's end).
  pthread_sigmask(SIG_BLOCK, &taken_, nullptr);
  // Without SA_RESTART, so that the interrupted call returns.
  struct sigaction wake = {};
  wake.sa_handler = onWake;
  sigemptyset(&wake.sa_mask);
  sigaction(wakeSignal(), &wake, &previousWakeAction_);
  std::signal(SIGXFSZ, SIG_IGN);
}

StopSignals::~StopSignals() { stopTaking(); }

int StopSignals::stopTaking() {
  if (!taking_) return arrived();
  taking_ = false;
  if (thread_.joinable()) {
    quitting_.store(true);
    pthread_kill(thread_.native_handle(), wakeSignal());
    thread_.join();
  }
  sigset_t unblocked;
  sigemptyset(&unblocked);
  for (int signal : STOP_SIGNALS)
    if (sigismember(&maskBeforeBlocking, signal) != 1)
      sigaddset(&unblocked, signal);
  pthread_sigmask(SIG_UNBLOCK, &unblocked, nullptr);
  sigaction(wakeSignal(), &previousWakeAction_, nullptr);
  return arrived();
}

bool StopSignals::takes(int signal) const {
  return sigismember(&taken_, signal) == 1;
}

void StopSignals::takeSignals() {
  std::chrono::steady_clock::time_point stoppedAt;
  for (;;) {
    // Once stopping, it wakes on its own to interrupt the source again, in
    // case the last interruption came just before the source began to wait.
    int signal = arrived() == 0
                     ? sigwaitinfo(&waited_, nullptr)
                     : sigtimedwait(&waited_, nullptr, &INTERRUPT_INTERVAL);
    if (signal > 0 && takes(signal)) {
      if (arrived() == 0) stoppedAt = std::chrono::steady_clock::now();
      onStop(signal);
    }
    if (quitting_.load()) return;
    if (arrived() != 0 && interrupting_.load()) {
      if (std::chrono::steady_clock::now() - stoppedAt > STUCK_SOURCE_GRACE &&
          mayEndNow())
        endBySignal(arrived());
      pthread_kill(mainThread_, wakeSignal());
    }
  }
}

void StopSignals::onStop(int signal) {
  if (arrived() == 0) {
    arrived_.store(signal);
    std::lock_guard<std::mutex> lock(wakeMutex_);
    if (wake_) wake_();
    return;
  }
  // A second one: the run is held by something that does not return. A
  // SIGPIPE never ends the run at once: it says only that a reader went.
  if (signal != SIGPIPE) endBySignal(signal);
}

void StopSignals::setWake(std::function<void()> wake) {
  std::lock_guard<std::mutex> lock(wakeMutex_);
  wake_ = std::move(wake);
  if (wake_ && arrived() != 0) wake_();
}

bool StopSignals::mayEndNow() {
  std::lock_guard<std::mutex> lock(wakeMutex_);
  return mayEnd_ && mayEnd_();
}

StopSignals::Interrupting::Interrupting(StopSignals& signals,
                                        std::function<bool()> mayEnd)
    : signals_(signals), wasInterrupting_(signals.interrupting_.load()) {
  std::lock_guard<std::mutex> lock(signals_.wakeMutex_);
  outerMayEnd_ = std::exchange(signals_.mayEnd_, std::move(mayEnd));
  signals_.interrupting_.store(true);
}

StopSignals::Interrupting::~Interrupting() {
  std::lock_guard<std::mutex> lock(signals_.wakeMutex_);
  signals_.mayEnd_ = std::move(outerMayEnd_);
  signals_.interrupting_.store(wasInterrupting_);
}

StopSignals::Waker::Waker(StopSignals& signals, std::function<void()> wake)
    : signals_(signals) {
  signals_.setWake(std::move(wake));
}

StopSignals::Waker::~Waker() { signals_.setWake(nullptr); }

void interruptThread(pthread_t thread) { pthread_kill(thread, wakeSignal()); }

void endBySignal(int signal) {
  std::signal(signal, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
}
