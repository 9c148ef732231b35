#include "feed/feed_verdict.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <vector>

#include "feed/rollout_slice.h"

namespace road {

namespace {

using Outcome = FeedVerdict::Outcome;

FeedVerdict NothingOffered(Outcome outcome, std::string reason) {
  FeedVerdict verdict;
  verdict.outcome = outcome;
  verdict.reason = std::move(reason);
  return verdict;
}

// The releases of the channel within the prefix, or those of them later than `installed`.
std::vector<FeedRelease> Candidates(const std::vector<FeedRelease>& releases,
                                    const std::string& prefix,
                                    const std::optional<ProductVersion>& installed) {
  std::vector<FeedRelease> candidates;
  std::copy_if(releases.begin(), releases.end(), std::back_inserter(candidates),
               [&](const FeedRelease& release) {
                 return IsWithinVersionPrefix(release.version, prefix) &&
                        (!installed || IsLaterVersion(release.version, *installed));
               });
  return candidates;
}

// The latest of `newer` whose rollout includes this machine, or nothing.
std::optional<FeedRelease> LatestInSlice(const std::vector<FeedRelease>& newer,
                                         const std::string& install_id) {
  std::optional<FeedRelease> latest;
  for (const FeedRelease& release : newer) {
    if (IsInRollout(install_id, release.version, release.rollout) &&
        (!latest || IsLaterVersion(release.version, latest->version))) {
      latest = release;
    }
  }
  return latest;
}

std::string ChannelWords(const FeedFacts& facts) {
  return "channel " + facts.channel +
         (facts.version_prefix.empty() ? "" : " within version prefix " + facts.version_prefix);
}

}  // namespace

bool IsWithinVersionPrefix(const ProductVersion& version, const std::string& prefix) {
  if (prefix.empty()) return true;
  const std::optional<ProductVersion> fields =
      ParseProductVersion(std::wstring(prefix.begin(), prefix.end()));
  if (!fields) return false;
  const auto dots = std::count(prefix.begin(), prefix.end(), '.');
  return version.major == fields->major && (dots < 1 || version.minor == fields->minor) &&
         (dots < 2 || version.build == fields->build);
}

FeedVerdict JudgeFeed(const FeedDocument& feed, const FeedFacts& facts) {
  if (feed.serial < facts.highest_serial) {
    return NothingOffered(Outcome::kReplayed,
                          "feed serial " + std::to_string(feed.serial) + " is older than serial " +
                              std::to_string(facts.highest_serial) + " seen before");
  }
  if (facts.now >= feed.expires) {
    return NothingOffered(Outcome::kExpired, "feed expired at " + UtcTimestampText(feed.expires) +
                                                 "; keeping what is installed");
  }
  const auto channel = feed.channels.find(facts.channel);
  const std::vector<FeedRelease> listed =
      channel == feed.channels.end()
          ? std::vector<FeedRelease>{}
          : Candidates(channel->second, facts.version_prefix, std::nullopt);
  if (listed.empty())
    return NothingOffered(Outcome::kNoRelease, "no release in " + ChannelWords(facts));
  const std::vector<FeedRelease> newer = Candidates(listed, "", facts.installed);
  if (newer.empty()) {
    return NothingOffered(
        Outcome::kNoneNewer,
        "no release newer than " + VersionText(facts.installed) + " in " + ChannelWords(facts));
  }
  const std::optional<FeedRelease> offered = LatestInSlice(newer, facts.install_id);
  if (!offered) {
    return NothingOffered(Outcome::kNotInSlice,
                          "this machine is not yet in the rollout of a release newer than " +
                              VersionText(facts.installed));
  }
  FeedVerdict verdict;
  verdict.outcome = Outcome::kOffer;
  verdict.release = *offered;
  return verdict;
}

}  // namespace road
