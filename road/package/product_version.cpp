#include "package/product_version.h"

#include <algorithm>
#include <tuple>

namespace road {

namespace {

constexpr unsigned kFieldLimits[] = {255, 255, 65535, 65535};
constexpr size_t kMaxFields = 4;

// Reads the decimal field that starts at `position` up to the next dot or the end, and moves
// `position` past the dot. Nothing when it is empty, holds anything but digits or exceeds
// `limit`.
std::optional<unsigned> ReadField(const std::wstring& text, size_t& position, unsigned limit) {
  const size_t end = std::min(text.find(L'.', position), text.size());
  if (end == position) return std::nullopt;
  unsigned value = 0;
  for (size_t i = position; i < end; ++i) {
    if (text[i] < L'0' || text[i] > L'9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(text[i] - L'0');
    if (value > limit) return std::nullopt;
  }
  position = end + 1;
  return value;
}

}  // namespace

std::optional<ProductVersion> ParseProductVersion(const std::wstring& text) {
  unsigned fields[kMaxFields] = {};
  size_t position = 0;
  size_t count = 0;
  while (position <= text.size()) {
    if (count == kMaxFields) return std::nullopt;
    const std::optional<unsigned> field = ReadField(text, position, kFieldLimits[count]);
    if (!field) return std::nullopt;
    fields[count++] = *field;
  }
  // A text that ends in a dot leaves an empty last field, which ReadField refuses.
  return ProductVersion{fields[0], fields[1], fields[2]};
}

bool IsLaterVersion(const ProductVersion& candidate, const ProductVersion& installed) noexcept {
  return std::tie(candidate.major, candidate.minor, candidate.build) >
         std::tie(installed.major, installed.minor, installed.build);
}

std::string VersionText(const ProductVersion& version) {
  return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
         std::to_string(version.build);
}

}  // namespace road
