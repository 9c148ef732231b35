// Which lines of a stream to write when a client sends the same request again and again: each
// kind of line a few times per interval, then a count of the times it was left out. A kind is
// what the lines have in common without what a client may vary at will (a token, a path), so
// that a fresh token in every request is still the same request.
#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace road {

// How long an interval lasts, from the first time a line is written in it.
inline constexpr ULONGLONG kRepeatIntervalMs = 60ULL * 1000ULL;
// How many times a line is written in one interval before it is only counted.
inline constexpr unsigned kWrittenPerInterval = 5;
// How many kinds of line are remembered; beyond that the one whose interval began longest ago
// is forgotten.
inline constexpr size_t kRememberedLines = 32;

class RepeatedLines {
 public:
  // The text to write for `line`, of kind `kind`, at `now_ms` (a GetTickCount64 reading):
  // `line` itself the first kWrittenPerInterval times of its kind in an interval, empty while
  // the kind is only counted after that, and at the kind's first line in a new interval `line`
  // with " (and <n> times more before)" when <n> of its kind were left out of the one before.
  [[nodiscard]] std::wstring Filter(const std::wstring& kind, const std::wstring& line,
                                    ULONGLONG now_ms);

 private:
  struct Seen {
    ULONGLONG interval_began_ms;
    unsigned written;
    unsigned long long left_out;
  };
  std::map<std::wstring, Seen> seen_;
};

}  // namespace road
