#include "feed/retry_backoff.h"

#include <algorithm>

namespace road {

namespace {

constexpr std::uint64_t kMsPerSecond = 1000;

// min(cap, base * 2^(failures - 1)), without overflow however many the failures.
std::uint64_t Ceiling(const RetryBackoff& backoff, unsigned failures) noexcept {
  std::uint64_t ceiling = std::min(backoff.base_ms, backoff.cap_ms);
  for (unsigned i = 1; i < failures && ceiling > 0 && ceiling < backoff.cap_ms; ++i) {
    ceiling = ceiling > backoff.cap_ms / 2 ? backoff.cap_ms : ceiling * 2;
  }
  return ceiling;
}

}  // namespace

std::uint64_t RetryDelayMs(const RetryBackoff& backoff, unsigned failures, double draw,
                           std::optional<std::uint64_t> retry_after_s) noexcept {
  // Written so that a NaN draw falls to 0.
  const double fraction = draw > 0.0 ? std::min(draw, 1.0) : 0.0;
  const auto jittered =
      static_cast<std::uint64_t>(fraction * static_cast<double>(Ceiling(backoff, failures)));
  if (!retry_after_s) return jittered;
  const std::uint64_t asked = *retry_after_s > backoff.cap_ms / kMsPerSecond
                                  ? backoff.cap_ms
                                  : *retry_after_s * kMsPerSecond;
  return std::min(backoff.cap_ms, std::max(jittered, asked));
}

}  // namespace road
