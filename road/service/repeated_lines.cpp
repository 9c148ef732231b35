#include "service/repeated_lines.h"

#include <algorithm>

namespace road {

std::wstring RepeatedLines::Filter(const std::wstring& kind, const std::wstring& line,
                                   ULONGLONG now_ms) {
  auto found = seen_.find(kind);
  if (found == seen_.end()) {
    if (seen_.size() >= kRememberedLines) {
      seen_.erase(std::min_element(seen_.begin(), seen_.end(), [](const auto& a, const auto& b) {
        return a.second.interval_began_ms < b.second.interval_began_ms;
      }));
    }
    found = seen_.emplace(kind, Seen{now_ms, 0, 0}).first;
  }
  Seen& seen = found->second;
  std::wstring text = line;
  if (now_ms - seen.interval_began_ms >= kRepeatIntervalMs) {
    if (seen.left_out > 0) {
      text += L" (and " + std::to_wstring(seen.left_out) + L" times more before)";
    }
    seen = {now_ms, 0, 0};
  }
  if (seen.written == kWrittenPerInterval) {
    ++seen.left_out;
    return L"";
  }
  ++seen.written;
  return text;
}

}  // namespace road
