// Stopping a run cleanly when it is told to: SIGINT, SIGTERM, SIGHUP,
// SIGUSR1, SIGUSR2 and a sent SIGPIPE are taken by a thread of their own, with
// every other thread blocking them, so that no thread dies of one and every
// wait can be woken.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "run/ring/result.h"

// How often a stopping run interrupts a source that waits, and looks again
// at what it waits for.
constexpr std::chrono::milliseconds STOP_CHECK_INTERVAL{100};

// Blocks the stop signals in the calling thread, and so in every thread
// started from it: a thread that did not block them would die of one.
// Call first thing on the main thread. Returns false when other threads
// run already, which then keep the signals' default action.
bool blockStopSignals();

class StopSignals {
 public:
  // Starts the thread that takes the stop signals that are not ignored (an
  // ignored one, under nohup or from a service manager, stays ignored).
  // Call on the main thread, after blockStopSignals. Returns the signals,
  // or the failure to start the thread. Ignores SIGXFSZ, so that a
  // file-size limit fails a write.
  static Result<std::unique_ptr<StopSignals>> start();

  // Stops taking the signals, if that was not done.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The first stop signal that arrived, or 0. A second one other than
  // SIGPIPE ends the process at once, for a source that never returns.
  int arrived() const { return arrived_.load(); }

  // Whether signal stops the run: it was not ignored when the run started.
  bool takes(int signal) const;

  // Ends the signal thread and unblocks the signals in the calling thread,
  // so that one that comes from now on acts as it would without pellux.
  // Returns the first stop signal that arrived before, or 0. Call on the
  // thread that started them.
  int stopTaking();

  // Runs call on the thread that started the signals, so that once a stop
  // signal has arrived the system calls it blocks in are interrupted
  // (EINTR), again every STOP_CHECK_INTERVAL until it returns: for a source
  // that waits.
  // A source that has not returned 500 ms after the signal may not for
  // long (FFmpeg waits out its own time-out): with mayEnd given, the
  // process then ends by the signal as soon as mayEnd says that nothing is
  // left half-done. mayEnd runs on the signal thread.
  template <typename Call>
  auto interruptible(Call call, std::function<bool()> mayEnd = nullptr)
      -> decltype(call()) {
    Interrupting interrupting(*this, std::move(mayEnd));
    return call();
  }

  // Runs wake on the signal thread when the first stop signal arrives, or
  // at once when one has, for as long as it lives.
  class Waker {
   public:
    // signals must outlive it; wake must be safe on any thread.
    Waker(StopSignals& signals, std::function<void()> wake);
    ~Waker();
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

   private:
    StopSignals& signals_;
  };

 private:
  // Sets what interrupting and ending the caller need for its life, and
  // gives back the outer call's.
  class Interrupting {
   public:
    Interrupting(StopSignals& signals, std::function<bool()> mayEnd);
    ~Interrupting();

   private:
    StopSignals& signals_;
    bool wasInterrupting_;
    std::function<bool()> outerMayEnd_;
  };

  StopSignals();
  void takeSignals();
  void onStop(int signal);
  void setWake(std::function<void()> wake);
  bool mayEndNow();

  sigset_t taken_;   // the stop signals not ignored at start
  sigset_t waited_;  // those and the wake-up, for the signal thread
  struct sigaction previousWakeAction_;
  pthread_t mainThread_;
  bool taking_ = true;  // the starting thread's
  std::atomic<int> arrived_{0};
  std::atomic<bool> interrupting_{false};
  std::atomic<bool> quitting_{false};
  // Guards wake_ and mayEnd_, so that neither is run as it goes.
  std::mutex wakeMutex_;
  std::function<void()> wake_;
  std::function<bool()> mayEnd_;
  std::thread thread_;
};

// Interrupts the system call that thread is blocked in, if any, so that it
// returns with EINTR; once per call, so a caller that may miss the moment
// repeats it. Needs StopSignals to have started.
void interruptThread(pthread_t thread);

// Ends the process by signal as the signal's default action would, so that
// its parent sees how the run ended.
void endBySignal(int signal);
