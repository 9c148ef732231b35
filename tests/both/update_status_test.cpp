// The update status record, set up and inspected through the registry API;
// the same cases run against the simulated registry and Wine's real one, but
// for the one only the simulation can provoke and the one only Wine's reg tool
// shows. The reader's rules for a token are named here once, in
// OutcomeForTokenTest.
#include "shared/update_status.h"

#include <string>
#include <tuple>
#include <vector>

#include "support/registry_access.h"
#if defined(_WIN32)
#include "support/wine_helpers.h"
#endif

namespace {

class UpdateStatusTest : public WorldTest {};

const std::wstring kRecord = StatusRecordText(L"T-1", kCompletedOutcome);

// A second write replaces a longer first one whole.
TEST_F(UpdateStatusTest, WriteStoresTokenBarOutcomeWithTerminator) {
  WriteUpdateStatus(L"first-token-that-is-long", FailedWithLogText(L"MSI exit 1603", L"C:\\a.msi"));
  WriteUpdateStatus(L"T-1", kCompletedOutcome);

  const std::optional<RawValue> value = ReadRawStatus();
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(std::tie(value->type, value->text), std::make_tuple(DWORD{REG_SZ}, kRecord + L'\0'));
  EXPECT_EQ(ReadUpdateStatus(), kRecord);
}

// Odd tokens, and records longer than 2047 characters (a long token, or a
// long log path in the reason), read back whole.
TEST_F(UpdateStatusTest, ReadsBackWhatWasWritten) {
  std::vector<std::wstring> tokens = {L"", L"a|b", L"T with spaces", L"\x00e9\x4e2d"};
  for (const size_t length : {2046, 2047, 2048, 5000, 40000}) tokens.emplace_back(length, L'k');
  for (const std::wstring& token : tokens) {
    WriteUpdateStatus(token, kCompletedOutcome);
    EXPECT_EQ(ReadUpdateStatus(), StatusRecordText(token, kCompletedOutcome)) << token.size();
  }
}

// A key is not made by reading, and a key without the value reads as no record too.
TEST_F(UpdateStatusTest, NoKeyOrNoValueReadsEmptyAndCreatesNothing) {
  EXPECT_EQ(ReadUpdateStatus(), L"");
  EXPECT_FALSE(StatusKeyExists());
  (void)CreateStatusKey();
  EXPECT_EQ(ReadUpdateStatus(), L"");
}

#if defined(_WIN32)
// The record as an administrator sees it: written by the updater's own writer, shown by the
// system's reg tool.
TEST_F(UpdateStatusTest, RegQueryShowsTokenBarAndOutcome) {
  const std::wstring outcome = L"failed:MSI exit 1603; log: C:\\Update Packages\\u.msi.log";
  WriteUpdateStatus(L"7d1c-upd", outcome);

  const std::optional<std::string> shown =
      CommandOutput(std::wstring(L"reg query \"HKLM\\") + updater_contract::kStatusKeyPath +
                    L"\" /v " + updater_contract::kStatusValueName);

  ASSERT_TRUE(shown.has_value());
  const size_t line = shown->find(Narrow(updater_contract::kStatusValueName));
  ASSERT_NE(line, std::string::npos) << *shown;
  const std::string rest = shown->substr(line, shown->find('\n', line) - line);
  EXPECT_NE(rest.find("REG_SZ"), std::string::npos) << rest;
  EXPECT_NE(rest.find(Narrow(L"7d1c-upd|" + outcome)), std::string::npos) << rest;
}
#else
// A record growing between the two reads of one poll. What failing registry calls do to the
// record is the failure sweep's and the fuzz target's.
TEST_F(UpdateStatusTest, LongRecordThatGrowsAgainBetweenReadsIsNoOutcomeYet) {
  const std::wstring record = StatusRecordText(std::wstring(3000, L'k'), kCompletedOutcome);
  ArrangeMachine({.record = {{0, record}}, .faults = {{"RegQueryValueExW", 2, ERROR_MORE_DATA}}});

  EXPECT_EQ(ReadUpdateStatus(), L"");
  // The next poll reads it whole.
  EXPECT_EQ(ReadUpdateStatus(), record);
}
#endif

// Values stored by someone else: what the reader makes of their raw bytes.
TEST_F(UpdateStatusTest, RawValuesReadUpToTheFirstNulOrTheEndOfAStringValue) {
  const std::wstring long_record = StatusRecordText(std::wstring(3000, L'k'), kCompletedOutcome);
  const std::wstring full(2048, L'x');
  // clang-format off
  const struct {
    const char* name;
    std::wstring text;
    size_t units;  // code units of `text` stored
    DWORD type;
    std::wstring read;
  } rows[] = {
      {"another type", kRecord, kRecord.size() + 1, REG_EXPAND_SZ, L""},
      {"long, of another type", long_record, long_record.size() + 1, REG_EXPAND_SZ, L""},
      {"without terminator", kRecord, kRecord.size(), REG_SZ, kRecord},
      {"filling the usual buffer without terminator", full, full.size(), REG_SZ, full},
      {"inner NUL", kRecord + L'\0' + L"trailing junk", kRecord.size() + 15, REG_SZ, kRecord},
      {"empty, without a byte", L"", 0, REG_SZ, L""},
      {"just the terminator", L"", 1, REG_SZ, L""},
  };
  // clang-format on
  for (const auto& row : rows) {
    WriteRawStatus(row.text, row.units, row.type);
    EXPECT_EQ(ReadUpdateStatus(), row.read) << row.name;
  }
}

const std::wstring kCompleted = kCompletedOutcome;
const std::wstring kFailed = updater_contract::kFailedKeyword;
constexpr UpdateOutcome kNone = UpdateOutcome::kNone;

TEST(OutcomeForTokenTest, AppliesTheReadersRules) {
  const std::wstring msi_failure = FailedWithLogText(L"MSI exit 1603", L"D:\\pkg\\update.msi");
  // clang-format off
  const struct {
    std::wstring record, token;
    UpdateOutcome expected;
  } rows[] = {
      {StatusRecordText(L"T", kCompleted), L"T", UpdateOutcome::kCompleted},
      {StatusRecordText(L"T", kCompleted + L" "), L"T", kNone},
      {StatusRecordText(L"T", kCompleted + L"X"), L"T", kNone},
      {StatusRecordText(L"T", L"COMPLETED"), L"T", kNone},
      {StatusRecordText(L"t", kCompleted), L"T", kNone},
      {StatusRecordText(L"T", kFailed), L"T", UpdateOutcome::kFailed},
      {StatusRecordText(L"T", msi_failure), L"T", UpdateOutcome::kFailed},
      {StatusRecordText(L"T", RestartFailedOutcome(kCompleted)), L"T", UpdateOutcome::kFailed},
      {StatusRecordText(L"T", kFailed.substr(0, kFailed.size() - 1)), L"T", kNone},
      {StatusRecordText(L"T", L"Failed:x"), L"T", kNone},
      {StatusRecordText(L"OTHER", kCompleted), L"T", kNone},
      {StatusRecordText(L"OTHER", kFailed + L"x"), L"T", kNone},
      {StatusRecordText(L"TT", kCompleted), L"T", kNone},
      {L"", L"T", kNone},
      {L"", L"", kNone},
      {StatusRecordText(L"", kCompleted), L"", UpdateOutcome::kCompleted},
      {StatusRecordText(L"", kFailed + L"x"), L"", UpdateOutcome::kFailed},
      {StatusRecordText(L"a|b", kCompleted), L"a|b", UpdateOutcome::kCompleted},
      {StatusRecordText(L"a|b", kCompleted), L"a", kNone},
  };
  // clang-format on
  for (const auto& row : rows) {
    EXPECT_EQ(OutcomeForToken(row.record, row.token), row.expected)
        << ::testing::PrintToString(row.record) << " for " << ::testing::PrintToString(row.token);
  }
}

// Outcome texts as the product's words take them apart, written out as the record holds them.
TEST(ReadOutcomeTest, TakesEachOutcomeApart) {
  const struct {
    std::wstring outcome;
    UpdateOutcome kind;
    bool service_stayed_down;
    std::wstring reason, log_path;
  } rows[] = {
      {L"completed", UpdateOutcome::kCompleted, false, L"", L""},
      {L"completed; log: x", kNone, false, L"", L""},
      {L"failed:Application did not exit before installation", UpdateOutcome::kFailed, false,
       L"Application did not exit before installation", L""},
      // The log path comes last and may hold the separator itself.
      {L"failed:MSI exit 1603; log: D:\\a; log: b.msi.log", UpdateOutcome::kFailed, false,
       L"MSI exit 1603", L"D:\\a; log: b.msi.log"},
      {L"failed:Remote service could not restart; installation result: completed",
       UpdateOutcome::kFailed, true, L"", L""},
      {L"failed:Remote service could not restart; installation result: failed:Windows restart "
       L"required; log: C:\\u.msi.log",
       UpdateOutcome::kFailed, true, L"Windows restart required", L"C:\\u.msi.log"},
      {L"Failed:x; log: y", kNone, false, L"", L""},
  };
  for (const auto& row : rows) {
    const OutcomeParts parts = ReadOutcome(row.outcome);
    EXPECT_EQ(std::tie(parts.kind, parts.service_stayed_down, parts.reason, parts.log_path),
              std::tie(row.kind, row.service_stayed_down, row.reason, row.log_path))
        << ::testing::PrintToString(row.outcome);
  }
}

}  // namespace
