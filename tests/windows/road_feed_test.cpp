// The feed as the service reads and judges it: which documents it accepts, what it offers this
// machine, which machines a staged release reaches, and how long it waits after a failure. And
// which feeds it reads: the signature decision judged on data, then the reader on feeds that
// scripts/publish signed at build time with the build folder's test publishers. Wine checks no
// revocation (docs/wine.md): a revoked signer shows in the data rows only.
#include <gtest/gtest.h>
#include <wincrypt.h>
#include <windows.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <tuple>

#include "feed/feed_document.h"
#include "feed/feed_signature.h"
#include "feed/feed_verdict.h"
#include "feed/retry_backoff.h"
#include "feed/rollout_slice.h"
#include "package/publisher_pins.h"
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
  EXPECT_EQ(std::make_tuple(road::VersionText(release.version), release.url, release.size,
                            release.sha256, release.rollout),
            std::make_tuple("2.0.0", "https://updates.example.com/r2.msi", 123456u, kHash, 100u));
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
  EXPECT_EQ(road::ParseFeedDocument(kFeed + std::string(road::kMaxFeedBytes, ' ')).refusal,
            "the feed is larger than 1048576 bytes");
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
  EXPECT_NEAR(at_ten, 100u, 30u);
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

// A feed signature's facts: those of a good one by the pinned publisher but for the fields a
// row names.
struct FeedSignatureRow {
  const char* reason;  // empty: accepted
  HRESULT verify_error = 0;
  DWORD chain = 0;
  const wchar_t* signer = road::kTestPublisherThumbprint;
  const wchar_t* name = L"Corvanta Remote test publisher";
  DWORD signers = 1;
  bool warned = false;
};

TEST(RoadFeedSignature, EachRuleRefusesAlone) {
  constexpr char kNoRoot[] =
      "the feed's signer's chain is not trusted: it does not end in a trusted root";
  // clang-format off
  const FeedSignatureRow cases[] = {
      {""},
      {"", 0, kOffline, road::kTestPublisherThumbprint, L"", 1, true},
      {"the feed's signature does not match it", NTE_BAD_SIGNATURE},
      {"the feed's signature does not match it", CRYPT_E_HASH_VALUE},
      {"the feed's signature cannot be read (error 0x80093102)", CRYPT_E_ASN1_EOD, 0, L"", L"", 0},
      {"the feed's signature cannot be read (error 0x8009200E)", CRYPT_E_NO_SIGNER, 0, L"", L"", 0},
      {"the feed's signature has 2 signers, not one", 0, 0, road::kTestPublisherThumbprint, L"", 2},
      {"the feed's signer's certificate is revoked", 0, CERT_TRUST_IS_REVOKED},
      {kNoRoot, 0, CERT_TRUST_IS_UNTRUSTED_ROOT},
      {kNoRoot, 0, kOffline | CERT_TRUST_IS_PARTIAL_CHAIN},
      {"the feed's signer's chain is not trusted (status 0x00000001)", 0,
       CERT_TRUST_IS_NOT_TIME_VALID},
      {"the feed's signer's chain is not trusted (status 0x01000050)", 0,
       kOffline | CERT_TRUST_IS_NOT_VALID_FOR_USAGE},
      {"the feed is signed by Mallory?Ltd? (F6401C08FF2FF9E882C59853E826DF32A6AEF53F), not a "
       "pinned publisher", 0, 0, kStrangerThumbprint, L"Mallory\nLtd\u00e9"},
      {"the feed is signed by  (), not a pinned publisher", 0, 0, L"", L""},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    const road::FeedSignatureVerdict verdict = road::JudgeFeedSignature(
        {static_cast<DWORD>(c.verify_error), c.signers, c.chain, c.signer, c.name});
    EXPECT_EQ(verdict.reason, c.reason);
    EXPECT_EQ(verdict.accepted, c.reason[0] == '\0');
    EXPECT_EQ(!verdict.warning.empty(), c.warned) << verdict.warning;
  }
}

std::string FeedFile(const std::wstring& signer, const wchar_t* name) {
  return ReadWholeFile(TestPublisherFile(L"feeds\\" + signer + L"\\" + name));
}

TEST(RoadFeedSignature, PublishedFeedsCountOnlyFromThePinnedPublisherUnderATrustedRoot) {
  ASSERT_TRUE(TrustTestRoot());
  const std::string feed = FeedFile(L"good", L"feed.json");
  const std::string p7s = FeedFile(L"good", L"feed.json.p7s");
  ASSERT_FALSE(feed.empty() || p7s.empty()) << "the build publishes the test feeds";
  // The thumbprint file holds 40 digits and a newline.
  const std::string other_publisher =
      "the feed is signed by Corvanta Remote other test publisher (" +
      ReadWholeFile(TestPublisherFile(L"other-publisher.thumbprint")).substr(0, 40) +
      "), not a pinned publisher";
  std::string changed = feed;
  changed[changed.find("\"rollout\": 100") + 12] = '9';
  const struct {
    const char* what;
    std::string feed, p7s;
    const char* reason;  // empty: accepted
  } cases[] = {
      {"as published", feed, p7s, ""},
      {"one byte changed", changed, p7s, "the feed's signature does not match it"},
      {"its last byte cut off", feed.substr(0, feed.size() - 1), p7s,
       "the feed's signature does not match it"},
      {"no signature", feed, "", "the feed's signature cannot be read (error 0x80093102)"},
      {"the feed as its own signature", feed, feed,
       "the feed's signature cannot be read (error 0x8009310B)"},
      {"another publisher under the same root", FeedFile(L"other", L"feed.json"),
       FeedFile(L"other", L"feed.json.p7s"), other_publisher.c_str()},
      {"a publisher under an untrusted root", FeedFile(L"stranger", L"feed.json"),
       FeedFile(L"stranger", L"feed.json.p7s"),
       "the feed's signer's chain is not trusted: it does not end in a trusted root"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const road::FeedSignatureFacts facts = road::ReadFeedSignature(c.feed, c.p7s);
    const road::FeedSignatureVerdict verdict = road::JudgeFeedSignature(facts);
    EXPECT_EQ(verdict.reason, c.reason)
        << "error " << std::hex << facts.verify_error << ", chain " << facts.chain_errors << ", "
        << facts.signer_count << " signers";
    EXPECT_EQ(verdict.accepted, c.reason[0] == '\0') << verdict.warning;
  }
}

}  // namespace
