// Which feeds the service reads: the signature decision judged on data, then the reader on
// feeds that scripts/publish signed at build time with the build folder's test publishers.
// Wine checks no revocation (docs/wine.md): a revoked signer shows in the data rows only.
#include <gtest/gtest.h>
#include <wincrypt.h>
#include <windows.h>

#include <string>

#include "feed/feed_signature.h"
#include "package/publisher_pins.h"
#include "support/windows_cases.h"
#include "support/wine_helpers.h"
#include "support/world_test.h"

namespace {

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
    const road::FeedSignatureFacts facts{static_cast<DWORD>(c.verify_error), c.signers, c.chain,
                                         c.signer, c.name};
    const road::FeedSignatureVerdict verdict = road::JudgeFeedSignature(facts);
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
