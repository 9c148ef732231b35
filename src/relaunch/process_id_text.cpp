#include "relaunch/process_id_text.h"

#include <cstdint>

namespace {

constexpr uint64_t kLargestId = 0xFFFFFFFFu;

bool IsWhiteSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

}  // namespace

DWORD ProcessIdFromText(const std::wstring& text) noexcept {
  size_t at = 0;
  while (at < text.size() && IsWhiteSpace(text[at])) ++at;
  const bool negative = at < text.size() && text[at] == L'-';
  if (at < text.size() && (text[at] == L'-' || text[at] == L'+')) ++at;

  // The magnitude saturates just above the 32-bit range, so any number of
  // digits can follow without overflowing the accumulator.
  uint64_t magnitude = 0;
  for (; at < text.size() && IsDigit(text[at]); ++at) {
    magnitude = magnitude * 10 + static_cast<uint64_t>(text[at] - L'0');
    if (magnitude > kLargestId) magnitude = kLargestId + 1;
  }
  if (magnitude > kLargestId) return static_cast<DWORD>(kLargestId);
  const uint64_t value = negative ? (kLargestId + 1 - magnitude) & kLargestId : magnitude;
  return static_cast<DWORD>(value);
}
