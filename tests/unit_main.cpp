// The unit tests' entry: the stop signals blocked before any test starts a
// thread, as the program's own entry has them, so that the tests of a stop
// can run in one process with the others.
#include <gtest/gtest.h>

#include <cstdio>

#include "run/stop_signals.h"

int main(int argc, char** argv) {
  if (!blockStopSignals()) {
    std::fputs("other threads run before the tests\n", stderr);
    return 1;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
