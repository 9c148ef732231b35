// Points in time as the feed writes them: UTC in ISO 8601, "2027-01-31T00:00:00Z".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace road {

// Seconds since 1970-01-01T00:00:00Z.
using UnixSeconds = std::int64_t;

// Reads exactly "YYYY-MM-DDThh:mm:ssZ": twenty characters, a real calendar day (leap years
// counted), hours 00-23, minutes and seconds 00-59 (no leap second), the year 1970-9999. No
// other offset than Z, no fractions: one spelling, so that what the publisher's tools print and
// what the service reads cannot drift apart. Nothing for any other text. Pure.
[[nodiscard]] std::optional<UnixSeconds> ParseUtcTimestamp(std::string_view text) noexcept;

// The same spelling of `seconds` (1970-9999), for reasons and logs.
[[nodiscard]] std::string UtcTimestampText(UnixSeconds seconds);

}  // namespace road
