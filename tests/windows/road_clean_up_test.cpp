// What the service removes and what it keeps: the staging folders after each update, and the
// deliveries it finds in Incoming, judged on data. And what the update's guardian decides at
// each look, from what it found, and the bound it keeps with a service that never runs again.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "service/delivery_verdict.h"
#include "service/guardian_decision.h"
#include "service/staging_ledger.h"

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

using Kind = road::GuardianStep::Kind;

TEST(GuardianDecision, EachLookGivesOneStep) {
  constexpr DWORD kUnknown = 0;
  const struct {
    const char* situation;
    road::GuardianFacts facts;  // installation runs, superseded, state, starts, waited ms
    Kind kind;
    DWORD wait_ms;
  } cases[] = {
      {"runs", {false, false, SERVICE_RUNNING, 0, 0}, Kind::kNothingToDo, 0},
      {"runs after starts", {false, false, SERVICE_RUNNING, 5, 90000}, Kind::kNothingToDo, 0},
      {"paused", {false, false, SERVICE_PAUSED, 0, 0}, Kind::kNothingToDo, 0},
      {"a newer update", {false, true, SERVICE_STOPPED, 2, 0}, Kind::kNothingToDo, 0},
      {"msiexec left running", {true, false, SERVICE_STOPPED, 0, 0}, Kind::kWait, 250},
      {"stopped", {false, false, SERVICE_STOPPED, 0, 0}, Kind::kStartNow, 0},
      {"unknown", {false, false, kUnknown, 0, 0}, Kind::kStartNow, 0},
      {"stopping", {false, false, SERVICE_STOP_PENDING, 0, 29999}, Kind::kWait, 250},
      {"stopping too long", {false, false, SERVICE_STOP_PENDING, 0, 30000}, Kind::kStartNow, 0},
      {"starting", {false, false, SERVICE_START_PENDING, 1, 10000}, Kind::kWait, 250},
      {"starting too long", {false, false, SERVICE_START_PENDING, 1, 30000}, Kind::kStartNow, 0},
      {"first start failed", {false, false, SERVICE_STOPPED, 1, 500}, Kind::kWait, 250},
      {"almost time", {false, false, SERVICE_STOPPED, 1, 1900}, Kind::kWait, 100},
      {"second start due", {false, false, SERVICE_STOPPED, 1, 2000}, Kind::kStartNow, 0},
      {"fifth start almost due", {false, false, kUnknown, 4, 15999}, Kind::kWait, 1},
      {"fifth start due", {false, false, kUnknown, 4, 16000}, Kind::kStartNow, 0},
      {"fifth start failed", {false, false, SERVICE_STOPPED, 5, 0}, Kind::kGiveUp, 0},
      {"fifth start pending", {false, false, SERVICE_START_PENDING, 5, 29000}, Kind::kWait, 250},
      {"fifth start hangs", {false, false, SERVICE_START_PENDING, 5, 30000}, Kind::kGiveUp, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.situation);
    const road::GuardianStep step = road::DecideGuardianStep(c.facts);
    EXPECT_EQ(step.kind, c.kind);
    EXPECT_EQ(step.wait_ms, c.wait_ms);
  }
}

// Follows the decisions in virtual time for a service that fails each start at once, and for
// one that hangs in each state it is left in: either way five starts, and the guardian gives
// up within the 180 s it promises.
TEST(GuardianDecision, AServiceThatNeverRunsIsGivenUpWithinTheBound) {
  for (const DWORD state : {DWORD{SERVICE_STOPPED}, DWORD{SERVICE_START_PENDING}}) {
    SCOPED_TRACE(state);
    road::GuardianFacts facts{false, false, SERVICE_STOP_PENDING, 0, 0};
    ULONGLONG now = 0;
    ULONGLONG last_start = 0;
    road::GuardianStep step;
    while ((step = road::DecideGuardianStep(facts)).kind != Kind::kGiveUp && now < 600000) {
      ASSERT_NE(step.kind, Kind::kNothingToDo);
      if (step.kind == Kind::kStartNow) {
        ++facts.starts_made;
        last_start = now;
        facts.service_state = state;
      }
      now += step.wait_ms;
      facts.waited_ms = now - last_start;
    }
    EXPECT_EQ(step.kind, Kind::kGiveUp);
    EXPECT_EQ(facts.starts_made, 5u);
    EXPECT_LE(now, 180000u);
    EXPECT_EQ(road::kGuardianBoundMs, 180000u);
  }
}

}  // namespace
