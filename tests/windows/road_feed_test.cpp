// The feed as the service reads and judges it: which documents it accepts, what it offers this
// machine, which machines a staged release reaches, and how long it waits after a failure.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "feed/feed_document.h"
#include "feed/feed_verdict.h"
#include "feed/retry_backoff.h"
#include "feed/rollout_slice.h"
#include "service/check_schedule.h"
#include "support/windows_cases.h"

namespace {

const std::string kHash(64, 'a');
const std::string kRelease = R"({"version": "2.0.0", "url": "https://updates.example.com/r2.msi",)"
                             R"( "size": 123456, "sha256": ")" +
                             kHash + R"(", "rollout": 100})";
const std::string kFeed = R"({"serial": 7, "expires": "2027-01-31T00:00:00Z", "channels": )"
                          R"({"stable": [)" +
                          kRelease + "]}}";

// kFeed with its first `from` replaced by `to`; the whole document `to` when `from` is empty.
std::string Edited(const std::string& from, const std::string& to) {
  if (from.empty()) return to;
  std::string text = kFeed;
  return text.replace(text.find(from), from.size(), to);
}

TEST(RoadFeed, DocumentsReadWhole) {
  const road::FeedParse parse = road::ParseFeedDocument(kFeed);
  ASSERT_TRUE(parse.accepted) << parse.refusal;
  EXPECT_EQ(parse.document.serial, 7u);
  EXPECT_EQ(parse.document.expires, 1801353600);
  const road::FeedRelease& release = parse.document.channels.at("stable").at(0);
  EXPECT_EQ(road::VersionText(release.version), "2.0.0");
  EXPECT_EQ(release.url, "https://updates.example.com/r2.msi");
  EXPECT_EQ(release.size, 123456u);
  EXPECT_EQ(release.sha256, kHash);
  EXPECT_EQ(release.rollout, 100u);
  const std::string upper(64, 'A');
  EXPECT_EQ(road::ParseFeedDocument(Edited(kHash, upper)).document.channels["stable"][0].sha256,
            kHash);
}

// Each edit of kFeed accepted (an empty reason) or refused with its reason.
TEST(RoadFeed, DocumentsAcceptedOrRefusedWithTheirReason) {
  const std::string head = R"({"serial": 1, "expires": "2027-01-31T00:00:00Z", "channels": )";
  // The same version as kRelease's, spelt with the revision the Windows Installer ignores.
  const std::string same_version = Edited("", kRelease).replace(13, 5, "2.0.0.5");
  constexpr char kBadTime[] = "expires is not a UTC time such as 2027-01-31T00:00:00Z";
  constexpr char kBadUrl[] =
      "channels.stable[0].url is neither an https address nor a file name beside the feed";
  const struct {
    std::string from, to, reason;
  } edits[] = {
      {"\"serial\": 7", "\"serial\": 7, \"note\": {\"later\": [1]}", ""},
      {"https://updates.example.com", "http://127.0.0.1:8080", ""},
      {"https://updates.example.com/r2.msi", "CorvantaRemote-2.0.0.msi", ""},
      {"2027-01-31T00:00:00Z", "2028-02-29T23:59:59Z", ""},
      {"\"size\": 123456", "\"size\": 2147483647", ""},
      {"\"rollout\": 100", "\"rollout\": 0", ""},
      {"[" + kRelease + "]", "[], \"beta\": [" + kRelease + "]", ""},
      {"", "{\"serial\": 1", "the feed is not JSON (at byte 13)"},
      {"", "[]", "the feed is not an object"},
      {"\"serial\": 7, ", "", "serial is missing"},
      {"\"serial\": 7", "\"serial\": -7", "serial is not an unsigned integer"},
      {"\"serial\": 7", "\"serial\": \"7\"", "serial is not an unsigned integer"},
      {"2027-01-31T00:00:00Z", "2027-02-29T00:00:00Z", kBadTime},
      {"2027-01-31T00:00:00Z", "2027-01-31T00:00:00+01:00", kBadTime},
      {"", head + "[]}", "channels is not an object"},
      {"", head + "{\"beta\": {}}}", "channels.beta is not a list"},
      {"\"stable\"", "\"stable\\nbeta\"",
       "channels holds a name other than letters, digits, -, _, ."},
      {"\"stable\": [", "\"stable\": [7, ", "channels.stable[0] is not an object"},
      {"\"2.0.0\"", "2", "channels.stable[0].version is not a string"},
      {"\"2.0.0\"", "\"256.0.0\"", "channels.stable[0].version is not a product version"},
      {"\"stable\": [", "\"stable\": [" + same_version + ", ",
       "channels.stable[1].version 2.0.0 is listed twice"},
      {"https://updates", "http://updates", kBadUrl},
      {"https://updates.example.com", "http://127.0.0.1.example.com", kBadUrl},
      {"r2.msi", "r 2.msi", kBadUrl},
      {"https://updates.example.com/r2.msi", "../r2.msi", kBadUrl},
      {"123456", "0", "channels.stable[0].size is not within 1..2147483647"},
      {"123456", "2147483648", "channels.stable[0].size is not within 1..2147483647"},
      {"123456", "1.5", "channels.stable[0].size is not an unsigned integer"},
      {kHash, kHash.substr(1), "channels.stable[0].sha256 is not 64 hex digits"},
      {kHash, "g" + kHash.substr(1), "channels.stable[0].sha256 is not 64 hex digits"},
      {"\"rollout\": 100", "\"rollout\": 101", "channels.stable[0].rollout is not within 0..100"},
      {", \"rollout\": 100", "", "channels.stable[0].rollout is missing"},
  };
  for (const auto& row : edits) {
    const road::FeedParse parse = road::ParseFeedDocument(Edited(row.from, row.to));
    EXPECT_EQ(parse.accepted, row.reason.empty()) << row.to;
    EXPECT_EQ(parse.refusal, row.reason) << row.to;
  }
  const std::string padded = kFeed + std::string(road::kMaxFeedBytes, ' ');
  EXPECT_EQ(road::ParseFeedDocument(padded).refusal, "the feed is larger than 1048576 bytes");
}

TEST(RoadFeed, VerdictOffersTheLatestNewerReleaseInThisMachinesSlice) {
  // The stable channel lists 1.5.0, 2.0.0, 2.1.0 (at `rollout`) and 2.10.0 (at 0 %).
  const auto feed_with = [](unsigned rollout) {
    road::FeedDocument feed{7, 1801353600, {}};  // expires 2027-01-31T00:00:00Z
    for (const auto& [version, percent] :
         {std::pair{L"1.5.0", 100u}, {L"2.0.0", 100u}, {L"2.1.0", rollout}, {L"2.10.0", 0u}}) {
      feed.channels["stable"].push_back({Version(version), "https://u/", 1, kHash, percent});
    }
    feed.channels["beta"].push_back({Version(L"3.0.0"), "https://u/", 1, kHash, 100});
    return feed;
  };
  using Outcome = road::FeedVerdict::Outcome;
  const struct {
    std::uint64_t seen;
    road::UnixSeconds now;
    const char* channel;
    const wchar_t* installed;
    const char* prefix;
    unsigned rollout;
    Outcome outcome;
    std::string offered_or_reason;
  } rows[] = {
      {7, 1801353599, "stable", L"1.0.0", "", 100, Outcome::kOffer, "2.1.0"},
      {7, 1801353599, "stable", L"1.0.0", "", 0, Outcome::kOffer, "2.0.0"},
      {0, 0, "beta", L"2.1.0", "", 0, Outcome::kOffer, "3.0.0"},
      {7, 0, "stable", L"1.0.0", "2.0", 100, Outcome::kOffer, "2.0.0"},
      {8, 0, "stable", L"1.0.0", "", 100, Outcome::kReplayed,
       "feed serial 7 is older than serial 8 seen before"},
      {7, 1801353600, "stable", L"1.0.0", "", 100, Outcome::kExpired,
       "feed expired at 2027-01-31T00:00:00Z; keeping what is installed"},
      {7, 0, "nightly", L"1.0.0", "", 100, Outcome::kNoRelease, "no release in channel nightly"},
      {7, 0, "stable", L"1.0.0", "3", 100, Outcome::kNoRelease,
       "no release in channel stable within version prefix 3"},
      {7, 0, "stable", L"1.0.0", "2.", 100, Outcome::kNoRelease,
       "no release in channel stable within version prefix 2."},
      {7, 0, "stable", L"2.10.0", "", 100, Outcome::kNoneNewer,
       "no release newer than 2.10.0 in channel stable"},
      {7, 0, "stable", L"2.1.0", "2.1", 100, Outcome::kNoneNewer,
       "no release newer than 2.1.0 in channel stable within version prefix 2.1"},
      {7, 0, "stable", L"2.0.0", "", 0, Outcome::kNotInSlice,
       "this machine is not yet in the rollout of a release newer than 2.0.0"},
  };
  for (const auto& row : rows) {
    const road::FeedFacts facts{row.channel, row.seen,  row.now, Version(row.installed),
                                "machine-1", row.prefix};
    const road::FeedVerdict verdict = road::JudgeFeed(feed_with(row.rollout), facts);
    EXPECT_EQ(verdict.outcome, row.outcome) << row.offered_or_reason;
    EXPECT_EQ(verdict.outcome == Outcome::kOffer ? road::VersionText(verdict.release.version)
                                                 : verdict.reason,
              row.offered_or_reason);
  }
}

TEST(RoadFeed, RolloutSliceIsStableAndDiffersAcrossReleases) {
  const road::ProductVersion v2 = Version(L"2.0.0");
  EXPECT_EQ(road::RolloutBucket("machine-1", v2), road::RolloutBucket("machine-1", v2));
  EXPECT_EQ(road::RolloutBucket("machine-1", v2),
            road::RolloutBucket("machine-1", Version(L"2.0.0.5")));
  unsigned at_zero = 0, at_full = 0, at_ten = 0, in_both = 0;
  for (int i = 0; i < 1000; ++i) {
    const std::string id = "{4f2c9a1e-0000-4000-8000-" + std::to_string(100000000000 + i) + "}";
    at_zero += road::IsInRollout(id, v2, 0);
    at_full += road::IsInRollout(id, v2, 100);
    at_ten += road::IsInRollout(id, v2, 10);
    in_both += road::IsInRollout(id, v2, 10) && road::IsInRollout(id, Version(L"2.1.0"), 10);
  }
  EXPECT_EQ(at_zero, 0u);
  EXPECT_EQ(at_full, 1000u);
  EXPECT_GE(at_ten, 70u);
  EXPECT_LE(at_ten, 130u);
  // Unrelated slices share about a tenth of their machines; the same slice would share all.
  EXPECT_LT(in_both, 40u);
}

// The next check: within the interval's spread after a check that ended; after failures in a
// row, on the back-off, which grows with jitter up to its cap and honours a server's
// Retry-After within the cap.
TEST(RoadFeed, TheNextCheckComesWithinItsSpreadOrAfterItsBackOff) {
  const road::CheckSchedule schedule;  // 4 h +- 1 h; back-off 10 s doubling, capped at 1 h
  using Kind = road::CheckResult::Kind;
  const std::optional<std::uint64_t> none;
  const struct {
    Kind kind;
    std::optional<std::uint64_t> retry_after_s;
    unsigned failures;
    double draw;
    std::uint64_t delay_ms;
  } rows[] = {
      {Kind::kDone, none, 0, 0.0, 3 * 3600000},
      {Kind::kDone, none, 0, 0.5, 4 * 3600000},
      {Kind::kDone, none, 0, 1.0, 5 * 3600000},
      {Kind::kDone, none, 0, std::nan(""), 3 * 3600000},
      {Kind::kRetry, none, 1, 0.0, 0},
      {Kind::kRetry, none, 1, 0.5, 5000},
      {Kind::kRetry, none, 3, 0.5, 20000},
      {Kind::kRetry, none, 3, 1.0, 40000},
      {Kind::kRetry, none, 9, 0.5, 1280000},
      {Kind::kRetry, none, 10, 0.5, 1800000},
      {Kind::kRetry, none, 4000000000u, 0.5, 1800000},
      {Kind::kRetry, none, 1, 1.5, 10000},
      {Kind::kRetry, none, 1, -0.5, 0},
      {Kind::kRetry, none, 1, std::nan(""), 0},
      {Kind::kRetry, 30, 2, 0.25, 30000},
      {Kind::kRetry, 5, 2, 0.75, 15000},
      {Kind::kRetry, 120, 1, 0.0, 120000},
      {Kind::kRetry, 86400, 1, 0.5, 3600000},
      {Kind::kRetry, 86400, 2, 0.0, 3600000},
      {Kind::kRetry, std::numeric_limits<std::uint64_t>::max(), 1, 0.5, 3600000},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.failures << " failures, draw " << row.draw);
    EXPECT_EQ(
        road::NextCheckDelayMs(schedule, {row.kind, row.retry_after_s}, row.failures, row.draw),
        row.delay_ms);
    if (row.kind == Kind::kDone) continue;
    EXPECT_EQ(road::RetryDelayMs(schedule.backoff, row.failures, row.draw, row.retry_after_s),
              row.delay_ms);
  }
}

}  // namespace
