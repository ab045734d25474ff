#include "run/capture_run.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

TEST(SlotNames, RefusedWhenTheNameOrAPartOfItWouldBeTooLong) {
  OutputRing ring;
  setDefaultRing(ring);
  EXPECT_EQ(refuseSlotNames(ring), std::nullopt);
  ring.paddingWidth = 100000;
  EXPECT_EQ(refuseSlotNames(ring),
            "Output file name for index 10 would be longer than 4095 "
            "characters.");
  ring.paddingWidth = 300;  // the tests run where names have 255 at most
  EXPECT_EQ(refuseSlotNames(ring),
            "Output file name for index 10 would have a part longer than 255 "
            "characters.");
}

}  // namespace
