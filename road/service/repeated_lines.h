// Which lines of a stream to write when a client sends the same request again and again: each
// distinct line a few times per interval, then a count of the times it was left out.
#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace road {

// How long an interval lasts, from the first time a line is written in it.
inline constexpr ULONGLONG kRepeatIntervalMs = 60ULL * 1000ULL;
// How many times a line is written in one interval before it is only counted.
inline constexpr unsigned kWrittenPerInterval = 5;
// How many distinct lines are remembered; beyond that the one whose interval began longest ago
// is forgotten.
inline constexpr size_t kRememberedLines = 32;

class RepeatedLines {
 public:
  // The text to write for `line` at `now_ms` (a GetTickCount64 reading): `line` itself the
  // first kWrittenPerInterval times of an interval, empty while it is only counted after that,
  // and at its first time in a new interval `line` with " (and <n> times more before)" when
  // <n> were left out of the one before.
  [[nodiscard]] std::wstring Filter(const std::wstring& line, ULONGLONG now_ms);

 private:
  struct Seen {
    ULONGLONG interval_began_ms;
    unsigned written;
    unsigned long long left_out;
  };
  std::map<std::wstring, Seen> seen_;
};

}  // namespace road
