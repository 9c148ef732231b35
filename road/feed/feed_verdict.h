// What the service makes of a feed whose signature has been checked: the release to fetch, or
// why there is none. One decision on what was found, so that every rule can be judged on data.
#pragma once

#include <cstdint>
#include <string>

#include "feed/feed_document.h"
#include "feed/utc_time.h"
#include "package/product_version.h"

namespace road {

// What the machine knows when it judges a feed.
struct FeedFacts {
  std::string channel;               // the policy's Channel, "stable" by default
  std::uint64_t highest_serial = 0;  // the highest serial of a feed it has accepted
  UnixSeconds now = 0;               // UTC
  ProductVersion installed;          // the installed product's version
  std::string install_id;            // the machine's install identifier (feed/rollout_slice.h)
  std::string version_prefix;        // the policy's version prefix ("2", "2.1"); empty: none
};

struct FeedVerdict {
  enum class Outcome {
    kOffer,       // `release` is to be fetched
    kReplayed,    // an older feed than one accepted before: refused
    kExpired,     // a stale feed: refused, the machine keeps what it has
    kNoRelease,   // the channel lists no release (within the version prefix)
    kNoneNewer,   // none is newer than the installed version
    kNotInSlice,  // newer ones exist, but this machine is in none of their rollouts yet
  } outcome = Outcome::kNoRelease;
  FeedRelease release;  // for kOffer
  std::string reason;   // for the others: why, for the log and the UI
};

// Whether `version` begins with the fields of `prefix` ("2", "2.0", "2.0.1"): an empty prefix
// holds every version; "2.0" holds 2.0.0 and 2.0.7, not 2.10.0; a prefix that is no version
// holds none. Pure.
[[nodiscard]] bool IsWithinVersionPrefix(const ProductVersion& version, const std::string& prefix);

// Judges `feed` for this machine, in this order:
//   - a serial below `highest_serial` is a replay (an equal one is the same feed again);
//   - a feed is stale from its expiry on;
//   - only the channel's releases whose version begins with the prefix's fields count (with
//     the prefix "2.1", 2.1.0 and 2.1.7, not 2.10.0); a prefix that is no version matches none;
//   - of those, only versions later than the installed one, in the product's version order;
//   - of those, the latest whose rollout includes this machine is offered.
// Pure.
[[nodiscard]] FeedVerdict JudgeFeed(const FeedDocument& feed, const FeedFacts& facts);

}  // namespace road
