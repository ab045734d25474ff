#include "run/ring/output_ring.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

OutputRing ringWith(int32_t width, const char* base = "f",
                    const char* extension = "jpg") {
  OutputRing ring;
  setDefaultRing(ring);
  ring.paddingWidth = width;
  snprintf(ring.outputBase, sizeof ring.outputBase, "%s", base);
  snprintf(ring.extension, sizeof ring.extension, "%s", extension);
  return ring;
}

// The name of the slot for index, where the ring's names fit.
std::string nameFor(OutputRing ring, int32_t index) {
  ring.firstIndex = ring.lastIndex = index;
  auto cycle = SlotCycle::start(ring);
  return cycle.ok() ? cycle.value().name() : "<none>";
}

TEST(SlotName, WidthIsAMinimumCountingTheSign) {
  EXPECT_EQ(nameFor(ringWith(3), 1234), "f1234.jpg");
  EXPECT_EQ(nameFor(ringWith(3), -5), "f-05.jpg");
  EXPECT_EQ(nameFor(ringWith(0), 7), "f7.jpg");
  EXPECT_EQ(nameFor(ringWith(-2), 5), "f5 .jpg");  // left-justified, blanks
  EXPECT_EQ(nameFor(ringWith(-4), -5), "f-5  .jpg");
  EXPECT_EQ(nameFor(ringWith(1), INT32_MIN), "f-2147483648.jpg");
}

TEST(SlotName, BaseAndExtensionAreUsedUnchanged) {
  EXPECT_EQ(nameFor(ringWith(3, "f", ".png"), 0), "f000..png");
  EXPECT_EQ(nameFor(ringWith(3, "out/run1_"), 0), "out/run1_000.jpg");
  EXPECT_EQ(nameFor(ringWith(3, "%s%n"), 0), "%s%n000.jpg");
}

// What the check finds, where parts of a name may have partLimit
// characters (by default as many as a whole name).
std::string check(const OutputRing& ring,
                  int64_t partLimit = SLOT_NAME_SIZE - 1) {
  std::optional<NameTooLong> found = nameTooLong(ring, partLimit);
  if (!found) return "fits";
  return (found->limit == NameLimit::Path ? "name at " : "part at ") +
         std::to_string(found->index);
}

TEST(NameCheck, ReportsAnEndOfTheRangeInUseForAnyWidth) {
  OutputRing ring = ringWith(4090);  // f, 4090 characters, .jpg: 4095
  ring.firstIndex = INT32_MIN;
  ring.lastIndex = INT32_MAX;
  EXPECT_EQ(check(ring), "fits");
  ring.paddingWidth = -4091;
  EXPECT_EQ(check(ring), "name at 2147483647");
  ring.firstIndex = 7;
  ring.lastIndex = -5;  // first above last: only first is used
  EXPECT_EQ(check(ring), "name at 7");
  for (int32_t width : {INT32_MAX, -INT32_MAX, INT32_MIN}) {
    ring.paddingWidth = width;
    EXPECT_EQ(check(ring), "name at 7") << width;
  }

  ring = ringWith(3, std::string(OUTPUT_BASE_SIZE - 1, 'b').c_str(),
                  std::string(EXTENSION_SIZE - 1, 'e').c_str());
  ring.firstIndex = INT32_MIN;
  EXPECT_EQ(check(ring), "fits");  // full fields fit
}

TEST(NameCheck, NoPartBetweenSlashesLongerThanTheFileSystemTakes) {
  EXPECT_EQ(check(ringWith(300), 255), "part at 10");  // f, 300, .jpg
  EXPECT_EQ(check(ringWith(250), 255), "fits");        // 255 in all
  OutputRing ring = ringWith(3, "out/run_");           // run_010.jpg: 11
  EXPECT_EQ(check(ring, 11), "fits");
  EXPECT_EQ(check(ring, 10), "part at 10");
  EXPECT_EQ(check(ringWith(1, "directory/f"), 8), "part at 10");
  EXPECT_EQ(check(ringWith(1, "f", "jpg/name.png"), 7), "part at 10");
  EXPECT_EQ(check(ringWith(1, "f", "jpg/name.png"), 8), "fits");
}

TEST(SlotCycle, RunsFromFirstToLastAndStartsAgain) {
  OutputRing ring;
  setDefaultRing(ring);
  auto cycle = SlotCycle::start(ring);
  ASSERT_TRUE(cycle.ok());
  std::vector<std::string> seen;
  for (int i = 0; i < 13; ++i, cycle.value().advance())
    seen.push_back(cycle.value().name());
  EXPECT_EQ(seen,
            (std::vector<std::string>{
                "f000.jpg", "f001.jpg", "f002.jpg", "f003.jpg", "f004.jpg",
                "f005.jpg", "f006.jpg", "f007.jpg", "f008.jpg", "f009.jpg",
                "f010.jpg", "f000.jpg", "f001.jpg"}));
  ring.paddingWidth = 100000;
  EXPECT_EQ(SlotCycle::start(ring).failure().message,
            "Output file name for index 10 would be longer than 4095 "
            "characters.");
}

TEST(IndexCycle, StaysInRangeAtItsEdges) {
  OutputRing ring;
  setDefaultRing(ring);
  ring.firstIndex = 5;
  ring.lastIndex = 2;
  EXPECT_EQ(nextIndex(ring, 5), 5);  // first above last stays at first
  ring.firstIndex = INT32_MAX - 1;
  ring.lastIndex = INT32_MAX;
  EXPECT_EQ(nextIndex(ring, INT32_MAX - 1), INT32_MAX);
  EXPECT_EQ(nextIndex(ring, INT32_MAX), INT32_MAX - 1);
}

}  // namespace
