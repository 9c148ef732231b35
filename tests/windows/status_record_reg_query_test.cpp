// The record as an administrator sees it: written by the updater's own writer, shown by the
// system's reg tool.
#include <gtest/gtest.h>

#include "shared/update_status.h"
#include "shared/updater_contract.h"
#include "support/wine_helpers.h"
#include "support/world_test.h"

namespace {

using updater_contract::kStatusKeyPath;
using updater_contract::kStatusValueName;

class StatusRecordRegQuery : public WorldTest {};

TEST_F(StatusRecordRegQuery, RegQueryShowsTokenBarAndOutcome) {
  const std::wstring outcome = L"failed:MSI exit 1603; log: C:\\Update Packages\\u.msi.log";
  WriteUpdateStatus(L"7d1c-upd", outcome);

  const std::optional<std::string> shown = CommandOutput(
      std::wstring(L"reg query \"HKLM\\") + kStatusKeyPath + L"\" /v " + kStatusValueName);

  ASSERT_TRUE(shown.has_value());
  const size_t line = shown->find(Narrow(kStatusValueName));
  ASSERT_NE(line, std::string::npos) << *shown;
  const std::string rest = shown->substr(line, shown->find('\n', line) - line);
  EXPECT_NE(rest.find("REG_SZ"), std::string::npos) << rest;
  EXPECT_NE(rest.find(Narrow(L"7d1c-upd|" + outcome)), std::string::npos) << rest;
}

}  // namespace
