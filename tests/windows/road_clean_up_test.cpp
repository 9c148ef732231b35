// What the service removes and what it keeps: the staging folders after each update, and the
// deliveries it finds in Incoming, judged on data.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "service/delivery_verdict.h"
#include "service/staging_ledger.h"
#include "support/wine_helpers.h"

namespace {

TEST(RoadCleanUp, StagingFoldersKeptAreTheWaitingAndTheNewestFinished) {
  // Created at 1 (oldest) to 6 (newest), named by their creation.
  std::vector<road::StagedFolder> found;
  for (ULONGLONG n = 1; n <= 6; ++n) found.push_back({std::to_wstring(n), 0, n});
  const struct {
    const char* what;
    std::set<std::wstring> waiting, dropped;
    std::vector<std::wstring> removed;
  } cases[] = {
      {"finished only: the three newest stay", {}, {}, {L"3", L"2", L"1"}},
      // Another session's update, staged first and not started, is never taken.
      {"an old one waits for its start", {L"1"}, {}, {L"3", L"2"}},
      {"the newest waits", {L"6"}, {}, {L"2", L"1"}},
      // Dropped ones go at once and leave room among the kept.
      {"dropped, new and old", {}, {L"6", L"1"}, {L"6", L"2", L"1"}},
      {"waiting and dropped", {L"5"}, {L"4"}, {L"4", L"1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(road::StagingFoldersToRemove(found, c.waiting, c.dropped, 3), c.removed);
  }
}

TEST(RoadCleanUp, DeliveriesAreOfferedRemovedOrSetAside) {
  using Fate = road::DeliveryVerdict::Fate;
  const struct {
    const char* what;
    bool hash_matches;
    const char* refusal;  // the package check's; nullptr: accepted
    const wchar_t* version;
    std::optional<std::wstring> installed;  // an empty text: the Windows Installer cannot tell
    Fate fate;
    const char* reason;
  } cases[] = {
      {"good", true, nullptr, L"2.0.0", L"1.0.0", Fate::kOffer, ""},
      {"bytes other than its hash's", false, nullptr, L"2.0.0", L"1.0.0", Fate::kQuarantine,
       "package hash mismatch"},
      {"installed already", true, "package version 2.0.0 is not newer than installed 2.0.0",
       L"2.0.0", L"2.0.0", Fate::kRemove, ""},
      {"installed version unknown: refused at staging, kept", true,
       "the installed version cannot be read", L"2.0.0", L"", Fate::kOffer, ""},
      {"unsigned", true, "package is not signed", L"2.0.0", L"1.0.0", Fate::kQuarantine,
       "package is not signed"},
      // Never removed silently: an administrator sees why.
      {"a version that cannot be read", true, "package version is unreadable", L"2.0.0-beta",
       L"1.0.0", Fate::kQuarantine, "package version is unreadable"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const road::PackageCheck check{{{}, L"", c.version, c.installed},
                                   {c.refusal == nullptr, c.refusal != nullptr ? c.refusal : ""}};
    const road::DeliveryVerdict verdict = road::JudgeDelivery(c.hash_matches, check);
    EXPECT_EQ(verdict.fate, c.fate);
    EXPECT_EQ(verdict.reason, c.reason);
  }
}

}  // namespace
