#include "run/stop_signals.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

namespace {

// Sends the process SIGTERM once the caller has had time to start waiting;
// a signal that comes earlier must work all the same.
std::thread terminateSoon() {
  return std::thread([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(getpid(), SIGTERM);
  });
}

TEST(StopSignals, AStopInterruptsASourceThatWaitsAndWakesWhatWaitsForIt) {
  auto started = StopSignals::start();
  ASSERT_TRUE(started.ok());
  StopSignals& signals = *started.value();
  int source[2];  // a pipe with nothing to read
  ASSERT_EQ(pipe(source), 0);
  std::atomic<int> wakes{0};
  StopSignals::Waker waker(signals, [&] { ++wakes; });

  std::thread sender = terminateSoon();
  int error = 0;
  ssize_t got = signals.interruptible([&] {
    char byte;
    ssize_t result = read(source[0], &byte, 1);
    error = errno;
    return result;
  });
  sender.join();
  EXPECT_EQ(got, -1);
  EXPECT_EQ(error, EINTR);
  EXPECT_EQ(signals.arrived(), SIGTERM);
  EXPECT_EQ(wakes.load(), 1);
  // One that starts waiting after the stop is woken at once.
  StopSignals::Waker late(signals, [&] { ++wakes; });
  EXPECT_EQ(wakes.load(), 2);
  close(source[0]);
  close(source[1]);
}

}  // namespace
