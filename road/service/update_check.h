// One look at the release feed, and the download of what it offers this machine.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "feed/http_fetch.h"
#include "service/check_board.h"
#include "service/service_log.h"
#include "service/update_policy.h"

namespace road {

// Where and what to look for, as the policy or the build says.
struct CheckSettings {
  std::wstring feed_url;   // feed.json's address: the policy's or the built-in one; its
                           // signature is beside it, + ".p7s"
  FetchTimeouts timeouts;  // of the package's download
  UpdatePolicy policy;     // its channel and version prefix decide which releases count
};

// How a check ended, for the schedule of the next one.
struct CheckResult {
  enum class Kind {
    kDone,     // the feed was judged, and what it offers (if anything) is ready
    kRetry,    // the network or the server failed: try again after a back-off
    kStopped,  // the service is stopping
  } kind = Kind::kDone;
  std::optional<std::uint64_t> retry_after_s;  // a server's Retry-After, with kRetry
};

// Fetches the feed and its signature, and refuses a feed whose signature is not a pinned
// publisher's, one that cannot be read, a replayed one (a serial below the highest accepted)
// and an expired one; the machine then keeps what it has. Of a feed accepted, the serial is
// recorded, and the release it offers this machine (feed/feed_verdict.h) is downloaded into
// Downloads and delivered into Incoming once its size and SHA-256 match the feed's, and is
// checked there as any delivery (SortIncoming). Shows each step on `board`, notes it in
// `log`, and ends within about a second of `stop`.
[[nodiscard]] CheckResult CheckForUpdate(const CheckSettings& settings, CheckBoard& board,
                                         HANDLE stop, const ServiceLog& log);

// Sorts out Incoming (pending_package.h), whatever brought its packages, a download or an
// administrator: `board` then shows the version ready to install, or the reason the last
// delivery was set aside.
void SortIncoming(CheckBoard& board, const ServiceLog& log);

}  // namespace road
