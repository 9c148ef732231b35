// The administrator's update policy: each value judged on data, the values read from Wine's
// registry as Group Policy writes them, and the decision whether the service may apply a ready
// package now.
#include <gtest/gtest.h>
#include <windows.h>

#include <iterator>
#include <map>
#include <string>

#include "feed/feed_url.h"
#include "feed/feed_verdict.h"
#include "service/apply_decision.h"
#include "service/update_policy.h"
#include "support/windows_cases.h"

namespace {

road::RawPolicyValue Sz(const std::wstring& text, DWORD type = REG_SZ) {
  const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
  return {type, {bytes, bytes + (text.size() + 1) * sizeof(wchar_t)}, false};
}

road::RawPolicyValue Dword(DWORD number) {
  const auto* bytes = reinterpret_cast<const BYTE*>(&number);
  return {REG_DWORD, {bytes, bytes + sizeof(number)}, false};
}

using Fields = std::map<std::string, std::string>;

// The policy's fields as text, by name.
Fields FieldsOf(const road::UpdatePolicy& policy) {
  return {{"feed", Narrow(policy.feed_url)},
          {"channel", policy.channel},
          {"mode", std::to_string(static_cast<unsigned>(policy.mode))},
          {"prefix", policy.version_prefix},
          {"window", policy.window ? road::ApplyWindowText(*policy.window) : ""},
          {"revocation", policy.require_revocation_check ? "1" : "0"}};
}

// The policy of a machine where the key is missing.
const Fields kDefaults = {{"feed", ""},   {"channel", "stable"}, {"mode", "1"},
                          {"prefix", ""}, {"window", ""},        {"revocation", "0"}};

// kDefaults with the fields of `changed` in their place.
Fields DefaultsWith(Fields changed) {
  changed.insert(kDefaults.begin(), kDefaults.end());
  return changed;
}

constexpr char kUrlNote[] =
    " is not an https address (http only to 127.0.0.1, for tests); the default applies";
constexpr char kPrefixNote[] =
    " is not a version prefix (one to three fields of digits, as 2.0.); the default applies";
constexpr char kWindowNote[] = " is not HH:MM-HH:MM with two different times; the default applies";

TEST(RoadPolicy, EachValueTakenOrIgnoredWithOneNote) {
  road::RawPolicyValue too_long = Sz(L"");
  too_long.too_long = true;
  road::RawPolicyValue no_nul = Sz(L"beta");
  no_nul.bytes.resize(4 * sizeof(wchar_t));
  const std::wstring long_url = L"ftp://" + std::wstring(100, L'a');
  // clang-format off
  const struct {
    const wchar_t* name;
    road::RawPolicyValue value;
    Fields changed;     // the fields other than kDefaults
    std::string note;   // after "Policy value <name> ignored: ", or empty
  } cases[] = {
      {L"FeedUrl", Sz(L"https://updates.corp.example/feed.json"),
       {{"feed", "https://updates.corp.example/feed.json"}}, ""},
      {L"FeedUrl", Sz(L"http://127.0.0.1:8080/feed.json"),
       {{"feed", "http://127.0.0.1:8080/feed.json"}}, ""},
      {L"FeedUrl", Sz(L""), {}, ""},
      {L"FeedUrl", Sz(L"http://updates.corp.example/feed.json"), {},
       std::string("\"http://updates.corp.example/feed.json\"") + kUrlNote},
      {L"FeedUrl", Sz(L"https://upd\u00e4tes.example/feed.json"), {},
       std::string("\"https://upd?tes.example/feed.json\"") + kUrlNote},
      {L"FeedUrl", Sz(long_url), {}, "\"ftp://" + std::string(74, 'a') + "...\"" + kUrlNote},
      {L"FeedUrl", Sz(L"https://x.example/", REG_EXPAND_SZ), {},
       "a REG_EXPAND_SZ, not a REG_SZ; the default applies"},
      {L"FeedUrl", too_long, {}, "longer than 2047 characters; the default applies"},
      {L"Channel", Sz(L"beta-2.x_1"), {{"channel", "beta-2.x_1"}}, ""},
      {L"Channel", no_nul, {{"channel", "beta"}}, ""},
      {L"Channel", Sz(L"early access"), {},
       "\"early access\" is not a channel (letters, digits, -, _, .); the default applies"},
      {L"Channel", Dword(2), {}, "a REG_DWORD, not a REG_SZ; the default applies"},
      {L"UpdateMode", Dword(0), {{"mode", "0"}}, ""},
      {L"UpdateMode", Dword(1), {}, ""},
      {L"UpdateMode", Dword(2), {{"mode", "2"}}, ""},
      {L"UpdateMode", Dword(3), {}, "3 is not 0, 1 or 2; the default applies"},
      {L"UpdateMode", Sz(L"2"), {}, "a REG_SZ, not a REG_DWORD; the default applies"},
      {L"UpdateMode", {REG_DWORD, {2, 0}, false}, {},
       "a REG_DWORD of 2 bytes; the default applies"},
      {L"TargetVersionPrefix", Sz(L"2.0."), {{"prefix", "2.0"}}, ""},
      {L"TargetVersionPrefix", Sz(L"2"), {{"prefix", "2"}}, ""},
      {L"TargetVersionPrefix", Sz(L"2.0.1"), {{"prefix", "2.0.1"}}, ""},
      {L"TargetVersionPrefix", Sz(L"2.0.1.5"), {}, std::string("\"2.0.1.5\"") + kPrefixNote},
      {L"TargetVersionPrefix", Sz(L"2.x"), {}, std::string("\"2.x\"") + kPrefixNote},
      {L"TargetVersionPrefix", Sz(L"."), {}, std::string("\".\"") + kPrefixNote},
      {L"ApplyWindow", Sz(L"02:00-04:30"), {{"window", "02:00-04:30"}}, ""},
      {L"ApplyWindow", Sz(L"22:00-03:00"), {{"window", "22:00-03:00"}}, ""},
      {L"ApplyWindow", Sz(L"00:00-23:59"), {{"window", "00:00-23:59"}}, ""},
      {L"ApplyWindow", Sz(L"03:00-03:00"), {}, std::string("\"03:00-03:00\"") + kWindowNote},
      {L"ApplyWindow", Sz(L"24:00-03:00"), {}, std::string("\"24:00-03:00\"") + kWindowNote},
      {L"ApplyWindow", Sz(L"02:00-04:60"), {}, std::string("\"02:00-04:60\"") + kWindowNote},
      {L"ApplyWindow", Sz(L"2:00-4:00"), {}, std::string("\"2:00-4:00\"") + kWindowNote},
      {L"RequireRevocationCheck", Dword(1), {{"revocation", "1"}}, ""},
      {L"RequireRevocationCheck", Dword(0), {}, ""},
      {L"RequireRevocationCheck", Dword(2), {}, "2 is not 0 or 1; the default applies"},
  };
  // clang-format on
  for (const auto& c : cases) {
    const std::string name = Narrow(c.name);
    SCOPED_TRACE(name + " " + c.note);
    const road::PolicyJudgement judged = road::JudgePolicyValues({{c.name, c.value}});
    EXPECT_EQ(FieldsOf(judged.policy), DefaultsWith(c.changed));
    std::vector<std::string> notes;
    if (!c.note.empty()) notes.push_back("Policy value " + name + " ignored: " + c.note);
    EXPECT_EQ(judged.notes, notes);
  }
}

// Sets the policy as Group Policy would, reads it back through the registry, and judges it.
TEST(RoadPolicy, ReadFromTheMachinesRegistry) {
  constexpr wchar_t kKey[] = L"SOFTWARE\\Policies\\Corvanta\\Remote\\Update";
  (void)::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey);
  EXPECT_TRUE(road::ReadPolicyValues().empty());
  EXPECT_EQ(FieldsOf(road::JudgePolicyValues(road::ReadPolicyValues()).policy), kDefaults);
  // Without a policy, the built-in feed: an https address.
  EXPECT_EQ(road::BuiltInFeedUrl().substr(0, 8), L"https://");
  EXPECT_TRUE(road::IsAllowedFeedUrl(Narrow(road::BuiltInFeedUrl())));

  // The first value makes the key.
  const auto set = [&](const wchar_t* name, const road::RawPolicyValue& value) {
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, name, value.type, value.bytes.data(),
                                static_cast<DWORD>(value.bytes.size())),
              ERROR_SUCCESS);
  };
  set(L"FeedUrl", Sz(L"https://updates.corp.example/feed.json"));
  set(L"UpdateMode", Dword(2));
  set(L"Channel", Dword(2));
  set(L"ApplyWindow", Sz(std::wstring(2048, L'0')));
  set(L"Unrelated", Sz(L"https://updates.corp.example/feed.json"));

  const road::RawPolicyValues found = road::ReadPolicyValues();
  EXPECT_EQ(found.size(), 4u);  // not Unrelated
  const road::PolicyJudgement judged = road::JudgePolicyValues(found);
  EXPECT_EQ(FieldsOf(judged.policy),
            DefaultsWith({{"feed", "https://updates.corp.example/feed.json"}, {"mode", "2"}}));
  EXPECT_EQ(judged.notes,
            (std::vector<std::string>{
                "Policy value Channel ignored: a REG_DWORD, not a REG_SZ; the default applies",
                "Policy value ApplyWindow ignored: longer than 2047 characters; the default "
                "applies"}));
  EXPECT_EQ(::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey), ERROR_SUCCESS);
}

// The policy's prefix as the feed's verdict reads it: a release within the prefix is offered,
// one outside is not, whether the administrator wrote the final dot or not.
TEST(RoadPolicy, PrefixesHoldTheSameVersionsForTheFeedAndTheApply) {
  const wchar_t* const prefixes[] = {L"2", L"2.0.", L"2.0", L"2.0.1", L"2.1."};
  const wchar_t* const versions[] = {L"2.0.1", L"2.1.0", L"2.10.0", L"3.0.0"};
  const bool within[][4] = {{true, true, true, false},
                            {true, false, false, false},
                            {true, false, false, false},
                            {true, false, false, false},
                            {false, true, false, false}};
  for (size_t p = 0; p < std::size(prefixes); ++p) {
    const road::UpdatePolicy policy =
        road::JudgePolicyValues({{L"TargetVersionPrefix", Sz(prefixes[p])}}).policy;
    for (size_t v = 0; v < std::size(versions); ++v) {
      SCOPED_TRACE(testing::Message()
                   << "prefix " << policy.version_prefix << ", version " << Narrow(versions[v]));
      const road::FeedRelease release{Version(versions[v]), "", 0, "", 100};
      const road::FeedDocument feed{1, 4102444800, {{"stable", {release}}}};
      const road::FeedFacts facts{"stable", 0, 1, Version(L"1.0.0"), "", policy.version_prefix};
      EXPECT_EQ(road::JudgeFeed(feed, facts).outcome == road::FeedVerdict::Outcome::kOffer,
                within[p][v]);
      EXPECT_EQ(road::IsWithinVersionPrefix(release.version, policy.version_prefix), within[p][v]);
    }
  }
}

// The decision on a policy of `mode`, `window` and `prefix` (empty: not set) at `clock`.
road::ApplyDecision Decide(DWORD mode, const wchar_t* window, const wchar_t* prefix,
                           const std::string& clock, bool ui_runs, bool agreed,
                           const wchar_t* version) {
  const road::PolicyJudgement judged =
      road::JudgePolicyValues({{L"UpdateMode", Dword(mode)},
                               {L"ApplyWindow", Sz(window)},
                               {L"TargetVersionPrefix", Sz(prefix)}});
  EXPECT_TRUE(judged.notes.empty());
  const unsigned minute = std::stoul(clock.substr(0, 2)) * 60 + std::stoul(clock.substr(3));
  return road::DecideAutomaticApply(judged.policy, {minute, ui_runs, agreed, Version(version)});
}

TEST(RoadPolicy, WindowsHoldTheirStartAndNotTheirEndAcrossMidnightToo) {
  const struct {
    const wchar_t* window;
    const char* clock;
    bool inside;
  } cases[] = {
      {L"02:00-04:00", "01:59", false}, {L"02:00-04:00", "02:00", true},
      {L"02:00-04:00", "03:59", true},  {L"02:00-04:00", "04:00", false},
      {L"22:00-03:00", "21:59", false}, {L"22:00-03:00", "22:00", true},
      {L"22:00-03:00", "23:59", true},  {L"22:00-03:00", "00:00", true},
      {L"22:00-03:00", "02:59", true},  {L"22:00-03:00", "03:00", false},
      {L"22:00-03:00", "12:00", false}, {L"00:00-00:01", "23:59", false},
      {L"23:59-00:00", "23:59", true},  {L"", "13:37", true},
  };
  for (const auto& c : cases) {
    const road::ApplyDecision decision = Decide(2, c.window, L"", c.clock, false, false, L"2.0.0");
    EXPECT_EQ(decision.outcome == road::ApplyDecision::Outcome::kApplyNow, c.inside)
        << Narrow(c.window) << " at " << c.clock << ": " << decision.reason;
  }
}

TEST(RoadPolicy, AutomaticApplyOnlyWhenThePolicyAndTheUsersAllow) {
  using Outcome = road::ApplyDecision::Outcome;
  constexpr char kOff[] = "updates are turned off by policy (UpdateMode 0)";
  constexpr char kUserApplies[] = "the user applies updates (UpdateMode 1)";
  constexpr char kNotAgreed[] = "the program is open in a session and its user has not agreed";
  constexpr char kOutside[] = "it is 12:00, outside the apply window 22:00-03:00";
  const struct {
    DWORD mode;
    const wchar_t* prefix;
    const char* clock;  // in the window 22:00-03:00, or not
    bool ui_runs, agreed;
    const wchar_t* version;
    Outcome outcome;
    const char* reason;  // empty for kApplyNow
  } cases[] = {
      {0, L"", "23:00", false, false, L"2.0.0", Outcome::kOff, kOff},
      {0, L"2.1", "12:00", true, false, L"3.0.0", Outcome::kOff, kOff},
      {1, L"", "23:00", false, false, L"2.0.0", Outcome::kNotAutomatic, kUserApplies},
      {1, L"", "23:00", true, true, L"2.0.0", Outcome::kNotAutomatic, kUserApplies},
      {2, L"", "23:00", false, false, L"2.0.0", Outcome::kApplyNow, ""},
      {2, L"", "12:00", false, false, L"2.0.0", Outcome::kOutsideWindow, kOutside},
      // A UI in some session: only with its user's agreement, and then only inside the window.
      {2, L"", "23:00", true, false, L"2.0.0", Outcome::kUiUserNotAgreed, kNotAgreed},
      {2, L"", "23:00", true, true, L"2.0.0", Outcome::kApplyNow, ""},
      {2, L"", "12:00", true, true, L"2.0.0", Outcome::kOutsideWindow, kOutside},
      {2, L"", "23:00", false, true, L"2.0.0", Outcome::kApplyNow, ""},
      // The version prefix, before the moment.
      {2, L"2.0.", "23:00", false, false, L"2.0.1", Outcome::kApplyNow, ""},
      {2, L"2.0.", "23:00", false, false, L"3.0.0", Outcome::kOutsidePrefix,
       "version 3.0.0 is outside the policy's version prefix 2.0"},
      {2, L"2", "12:00", true, false, L"2.10.0", Outcome::kOutsideWindow, kOutside},
      {2, L"2.1", "12:00", true, false, L"2.10.0", Outcome::kOutsidePrefix,
       "version 2.10.0 is outside the policy's version prefix 2.1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << ", " << c.clock << ", ui " << c.ui_runs
                                    << c.agreed << ", " << Narrow(c.version));
    const road::ApplyDecision decision =
        Decide(c.mode, L"22:00-03:00", c.prefix, c.clock, c.ui_runs, c.agreed, c.version);
    EXPECT_EQ(decision.outcome, c.outcome);
    EXPECT_EQ(decision.reason, c.reason);
  }
}

}  // namespace
