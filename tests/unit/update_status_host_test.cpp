// The update status record where only the simulation can provoke the case:
// failing registry calls and a record growing between two reads.
#include "shared/update_status.h"

#include "support/world_test.h"

namespace {

class UpdateStatusHostTest : public WorldTest {};

TEST_F(UpdateStatusHostTest, KeyThatCannotBeCreatedWritesNothing) {
  winsim::FailCall("RegCreateKeyExW", 1, ERROR_ACCESS_DENIED);
  WriteUpdateStatus(L"T", L"completed");
  EXPECT_FALSE(winsim::RegistryKeyExists(kStatusKey));
  EXPECT_EQ(winsim::UseCount("RegSetValueExW"), 0u);
}

TEST_F(UpdateStatusHostTest, FailedSetStillClosesTheKey) {
  winsim::FailCall("RegSetValueExW", 1, ERROR_ACCESS_DENIED);
  WriteUpdateStatus(L"T", L"completed");
  EXPECT_FALSE(winsim::GetRegistryValue(kStatusKey, L"Status").has_value());
  // The fixture checks that the key handle was closed.
}

TEST_F(UpdateStatusHostTest, FailingReadCallsReadEmpty) {
  const char* functions[] = {"RegOpenKeyExW", "RegQueryValueExW"};
  for (const char* function : functions) {
    winsim::Reset();
    winsim::SetRegistryString(kStatusKey, L"Status", L"T|completed");
    winsim::FailCall(function, 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadUpdateStatus(), L"") << function;
    EXPECT_EQ(winsim::OpenHandleCount(), 0u) << function;
  }
}

TEST_F(UpdateStatusHostTest, LongRecordThatGrowsAgainBetweenReadsIsNoOutcomeYet) {
  winsim::SetRegistryString(kStatusKey, L"Status", std::wstring(3000, L'k') + L"|completed");
  winsim::FailCall("RegQueryValueExW", 2, ERROR_MORE_DATA);

  EXPECT_EQ(ReadUpdateStatus(), L"");
  EXPECT_EQ(winsim::UseCount("RegQueryValueExW"), 2u);
  // The next poll reads it whole.
  EXPECT_EQ(ReadUpdateStatus(), std::wstring(3000, L'k') + L"|completed");
}

TEST_F(UpdateStatusHostTest, LongValueOfAnotherTypeReadsEmpty) {
  winsim::SetRegistryString(kStatusKey, L"Status", std::wstring(3000, L'k') + L"|completed",
                            REG_EXPAND_SZ);
  EXPECT_EQ(ReadUpdateStatus(), L"");
}

}  // namespace
