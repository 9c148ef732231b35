// The feed: feed.json, the releases of each channel as the publisher lists them, read whole and
// strictly. Its signature is checked before it is read; what it says is judged apart
// (feed/feed_verdict.h).
//
//   {"serial": 7, "expires": "2027-01-31T00:00:00Z",
//    "channels": {"stable": [{"version": "2.0.0", "url": "https://...", "size": 123456,
//                             "sha256": "<64 hex digits>", "rollout": 100}]}}
//
// Members other than these are passed over, so that a later publisher may add some without
// stranding the machines that cannot read them; every member named here must be present, of
// its type, and within its bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "feed/utc_time.h"
#include "package/product_version.h"

namespace road {

// A feed larger than this is refused unread: a list of a few thousand releases fits.
constexpr std::size_t kMaxFeedBytes = std::size_t{1024} * 1024;
// The Windows Installer opens no package of 2 GiB or more.
constexpr std::uint64_t kMaxPackageBytes = 2ULL * 1024 * 1024 * 1024 - 1;

struct FeedRelease {
  ProductVersion version;
  std::string url;         // https, http to 127.0.0.1, or a file name beside the feed (feed_url.h)
  std::uint64_t size = 0;  // bytes, 1..kMaxPackageBytes
  std::string sha256;      // 64 hex digits, lower case
  unsigned rollout = 0;    // percent of machines offered it, 0..100
};

struct FeedDocument {
  std::uint64_t serial = 0;  // grows with every feed published
  UnixSeconds expires = 0;   // after this the feed is stale
  // Each channel's releases, in the feed's order; a version appears at most once a channel.
  std::map<std::string, std::vector<FeedRelease>> channels;
};

struct FeedParse {
  bool accepted = false;
  FeedDocument document;  // when accepted
  std::string refusal;    // when not: why, naming the member ("channels.stable[0].size ...")
};

// Reads feed.json's bytes (UTF-8). Refused: a text over kMaxFeedBytes, one that is not JSON,
// a member of the wrong type or missing, a channel named other than by letters, digits, '-',
// '_' and '.', a serial that is not an unsigned integer, an expiry not in the form
// ParseUtcTimestamp reads, a version ParseProductVersion refuses or given twice in one
// channel, a URL IsAllowedFeedUrl refuses, a size of 0 or over kMaxPackageBytes, a sha256 that
// is not 64 hex digits, a rollout outside 0..100. Pure; never throws but for memory.
[[nodiscard]] FeedParse ParseFeedDocument(std::string_view text);

}  // namespace road
