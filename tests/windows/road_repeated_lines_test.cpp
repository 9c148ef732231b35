// A client that sends the same request again and again costs the service's log a few lines a
// minute, and the log says how many it left out.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "service/repeated_lines.h"

namespace {

TEST(RoadRepeatedLines, EachKindAFewTimesAMinuteThenItsCount) {
  const std::wstring start = L"Request: start";
  const std::wstring other = L"Refused: unknown request";
  // A fresh token in every request is still the same kind of request.
  const auto start_line = [](int n) { return L"Request: start 0000000" + std::to_wstring(n); };
  road::RepeatedLines lines;
  for (unsigned i = 0; i < road::kWrittenPerInterval; ++i) {
    EXPECT_EQ(lines.Filter(start, start_line(i), 1000 + i), start_line(i)) << i;
  }
  EXPECT_EQ(lines.Filter(start, start_line(7), 2000), L"");
  EXPECT_EQ(lines.Filter(start, start_line(8), 1000 + road::kRepeatIntervalMs - 1), L"");
  EXPECT_EQ(lines.Filter(other, other, 3000), other);
  EXPECT_EQ(lines.Filter(start, start_line(9), 1000 + road::kRepeatIntervalMs),
            L"Request: start 00000009 (and 2 times more before)");
  EXPECT_EQ(lines.Filter(start, start_line(1), 1001 + road::kRepeatIntervalMs), start_line(1));

  // Kinds beyond those remembered push out the one whose interval began first, which is then
  // written afresh within its interval: memory stays bounded, lines are never lost.
  road::RepeatedLines fresh;
  for (unsigned i = 0; i < road::kWrittenPerInterval; ++i) (void)fresh.Filter(other, other, 1000);
  EXPECT_EQ(fresh.Filter(other, other, 1001), L"");
  for (size_t i = 0; i < road::kRememberedLines; ++i) {
    const std::wstring kind = L"The watcher log " + std::to_wstring(i);
    (void)fresh.Filter(kind, kind, 2000 + i);
  }
  EXPECT_EQ(fresh.Filter(other, other, 3000), other);
}

}  // namespace
