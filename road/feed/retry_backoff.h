// How long the service waits before it tries a failed fetch again.
#pragma once

#include <cstdint>
#include <optional>

namespace road {

struct RetryBackoff {
  std::uint64_t base_ms = 10'000;    // the ceiling after the first failure
  std::uint64_t cap_ms = 3'600'000;  // no wait is longer, whatever a server asks
};

// The wait before the next try after `failures` (1 or more) failures in a row: exponential back-
// off with full jitter, `draw` times min(cap, base * 2^(failures - 1)), so that a fleet whose
// server failed at one moment does not come back at one moment. `draw` is a random number in
// [0, 1), handed in so that the rule is pure; a value outside is clamped into [0, 1]. A server's
// Retry-After (`retry_after_s`, seconds) is honoured within the cap: the wait is then at least
// that long, and never longer than the cap. Pure.
[[nodiscard]] std::uint64_t RetryDelayMs(const RetryBackoff& backoff, unsigned failures,
                                         double draw,
                                         std::optional<std::uint64_t> retry_after_s) noexcept;

}  // namespace road
