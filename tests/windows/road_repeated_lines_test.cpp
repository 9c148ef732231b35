// A client that sends the same request again and again costs the service's log a few lines a
// minute, and the log says how many it left out.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "service/repeated_lines.h"

namespace {

TEST(RoadRepeatedLines, EachLineAFewTimesAMinuteThenItsCount) {
  const std::wstring refused = L"Refused: no pending package";
  const std::wstring other = L"Refused: unknown request";
  road::RepeatedLines lines;
  for (unsigned i = 0; i < road::kWrittenPerInterval; ++i) {
    EXPECT_EQ(lines.Filter(refused, 1000 + i), refused) << i;
  }
  EXPECT_EQ(lines.Filter(refused, 2000), L"");
  EXPECT_EQ(lines.Filter(refused, 1000 + road::kRepeatIntervalMs - 1), L"");
  EXPECT_EQ(lines.Filter(other, 3000), other);
  EXPECT_EQ(lines.Filter(refused, 1000 + road::kRepeatIntervalMs),
            refused + L" (and 2 times more before)");
  EXPECT_EQ(lines.Filter(refused, 1001 + road::kRepeatIntervalMs), refused);

  // Distinct lines beyond those remembered push out the one whose interval began first, which
  // is then written afresh within its interval: memory stays bounded, lines are never lost.
  road::RepeatedLines fresh;
  for (unsigned i = 0; i < road::kWrittenPerInterval; ++i) (void)fresh.Filter(other, 1000);
  EXPECT_EQ(fresh.Filter(other, 1001), L"");
  for (size_t i = 0; i < road::kRememberedLines; ++i) {
    (void)fresh.Filter(L"Request: start " + std::to_wstring(i), 2000 + i);
  }
  EXPECT_EQ(fresh.Filter(other, 3000), other);
}

}  // namespace
