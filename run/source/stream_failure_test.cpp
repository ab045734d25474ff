#include "run/source/stream_failure.h"

#include <gtest/gtest.h>

namespace {

TEST(StreamFailure, ToldFromFfmpegsMessages) {
  EXPECT_EQ(failureIn("Connection to tcp://127.0.0.1:9?timeout=0 failed: "
                      "Connection refused\n"),
            StreamFailure::ConnectionRefused);
  EXPECT_EQ(failureIn("HTTP error 404 File not found\n"),
            StreamFailure::NotFound);
  EXPECT_EQ(failureIn("method DESCRIBE failed: 404 Not Found\n"),
            StreamFailure::NotFound);
  EXPECT_EQ(failureIn("method DESCRIBE failed: 401 Unauthorized\n"),
            StreamFailure::Unauthorized);
  EXPECT_EQ(failureIn("Failed to resolve hostname nowhere: Name or service "
                      "not known\n"),
            StreamFailure::UnknownHost);
  EXPECT_EQ(failureIn("Invalid data found when processing input\n"),
            StreamFailure::Unknown);
}

}  // namespace
