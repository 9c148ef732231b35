// The update status record, set up and inspected through the registry API;
// the same cases run against the simulated registry and Wine's real one.
#include "shared/update_status.h"

#include <ostream>
#include <string>

#include "support/registry_access.h"

namespace {

class UpdateStatusTest : public WorldTest {};

TEST_F(UpdateStatusTest, WriteStoresTokenBarOutcomeWithTerminator) {
  WriteUpdateStatus(L"T-1", L"completed");

  const std::optional<RawValue> value = ReadRawStatus();
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(value->data.size(), (std::wstring(L"T-1|completed").size() + 1) * sizeof(wchar_t));
  EXPECT_EQ(AsText(*value), std::wstring(L"T-1|completed", 14));  // with the NUL
}

TEST_F(UpdateStatusTest, SecondWriteReplacesTheFirstWhole) {
  WriteUpdateStatus(L"first-token-that-is-long", L"failed:MSI exit 1603; log: C:\\a.msi.log");
  WriteUpdateStatus(L"T2", L"completed");

  EXPECT_EQ(ReadUpdateStatus(), L"T2|completed");
}

TEST_F(UpdateStatusTest, ReadsBackWhatWasWrittenForOddTokens) {
  const std::wstring tokens[] = {L"", L"a|b", L"T with spaces", L"\x00e9\x4e2d"};
  for (const std::wstring& token : tokens) {
    WriteUpdateStatus(token, L"completed");
    EXPECT_EQ(ReadUpdateStatus(), token + L"|completed");
    EXPECT_EQ(OutcomeForToken(ReadUpdateStatus(), token), UpdateOutcome::kCompleted);
  }
}

TEST_F(UpdateStatusTest, NoKeyReadsEmptyAndDoesNotCreateIt) {
  EXPECT_EQ(ReadUpdateStatus(), L"");
  EXPECT_FALSE(StatusKeyExists());
}

TEST_F(UpdateStatusTest, KeyWithoutValueReadsEmpty) {
  CreateStatusKeyOnly();
  EXPECT_EQ(ReadUpdateStatus(), L"");
}

// Values stored by someone else: what the reader makes of their raw bytes.
struct RawRecordCase {
  const char* name;
  std::wstring text;
  size_t units;  // code units of `text` stored
  DWORD type;
  std::wstring read;
};
void PrintTo(const RawRecordCase& c, std::ostream* out) { *out << c.name; }

class RawRecordTest : public UpdateStatusTest,
                      public ::testing::WithParamInterface<RawRecordCase> {};

TEST_P(RawRecordTest, ReadsUpToTheFirstNulOrTheEndOfAStringValue) {
  WriteRawStatus(GetParam().text, GetParam().units, GetParam().type);
  EXPECT_EQ(ReadUpdateStatus(), GetParam().read);
}

const std::wstring kRecord = L"T|completed";
INSTANTIATE_TEST_SUITE_P(
    Values, RawRecordTest,
    ::testing::Values(
        RawRecordCase{"AnotherType", kRecord, kRecord.size() + 1, REG_EXPAND_SZ, L""},
        RawRecordCase{"WithoutTerminator", kRecord, kRecord.size(), REG_SZ, kRecord},
        RawRecordCase{"InnerNul", std::wstring(L"T|completed\0trailing junk", 25), 26, REG_SZ,
                      kRecord},
        RawRecordCase{"EmptyWithoutAByte", L"", 0, REG_SZ, L""},
        RawRecordCase{"JustTheTerminator", L"", 1, REG_SZ, L""}),
    [](const auto& info) { return std::string(info.param.name); });

// Records longer than 2047 characters: a long token, or a long log path in
// the reason. They are read whole, so their watcher sees the outcome.
TEST_F(UpdateStatusTest, LongRecordsAreReadWhole) {
  const size_t lengths[] = {2046, 2047, 2048, 5000, 40000};
  for (size_t length : lengths) {
    const std::wstring token(length, L'k');
    WriteUpdateStatus(token, L"completed");
    EXPECT_EQ(ReadUpdateStatus(), token + L"|completed") << length;
  }
}

TEST_F(UpdateStatusTest, ValueFillingTheUsualBufferWithoutNulIsReadWhole) {
  const std::wstring text(2048, L'x');
  WriteRawStatus(text, text.size());
  EXPECT_EQ(ReadUpdateStatus(), text);
}

struct OutcomeCase {
  const wchar_t* record;
  const wchar_t* token;
  UpdateOutcome expected;
};

class OutcomeForTokenTest : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(OutcomeForTokenTest, AppliesTheReadersRules) {
  EXPECT_EQ(OutcomeForToken(GetParam().record, GetParam().token), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Records, OutcomeForTokenTest,
    ::testing::Values(
        OutcomeCase{L"T|completed", L"T", UpdateOutcome::kCompleted},
        OutcomeCase{L"T|completed ", L"T", UpdateOutcome::kNone},
        OutcomeCase{L"T|COMPLETED", L"T", UpdateOutcome::kNone},
        OutcomeCase{L"t|completed", L"T", UpdateOutcome::kNone},
        OutcomeCase{L"T|completedX", L"T", UpdateOutcome::kNone},
        OutcomeCase{L"T|failed:", L"T", UpdateOutcome::kFailed},
        OutcomeCase{L"T|failed:MSI exit 1603; log: D:\\pkg\\update.msi.log", L"T",
                    UpdateOutcome::kFailed},
        OutcomeCase{L"T|failed:Remote service could not restart; installation result: completed",
                    L"T", UpdateOutcome::kFailed},
        OutcomeCase{L"T|Failed:x", L"T", UpdateOutcome::kNone},
        OutcomeCase{L"OTHER|completed", L"T", UpdateOutcome::kNone},
        OutcomeCase{L"OTHER|failed:x", L"T", UpdateOutcome::kNone},
        OutcomeCase{L"TT|completed", L"T", UpdateOutcome::kNone},
        OutcomeCase{L"", L"T", UpdateOutcome::kNone},
        OutcomeCase{L"", L"", UpdateOutcome::kNone},
        OutcomeCase{L"|completed", L"", UpdateOutcome::kCompleted},
        OutcomeCase{L"|failed:x", L"", UpdateOutcome::kFailed},
        OutcomeCase{L"a|b|completed", L"a|b", UpdateOutcome::kCompleted},
        OutcomeCase{L"a|b|completed", L"a", UpdateOutcome::kNone}));

}  // namespace
