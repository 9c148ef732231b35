// The record as an administrator sees it: written by the updater's own
// writer, shown by the system's reg tool.
#include <gtest/gtest.h>

#include "shared/update_status.h"
#include "support/registry_access.h"
#include "support/sample_product.h"

namespace {

class StatusRecordRegQuery : public WorldTest {};

TEST_F(StatusRecordRegQuery, RegQueryShowsTokenBarAndOutcome) {
  const std::wstring outcome = L"failed:MSI exit 1603; log: C:\\Update Packages\\u.msi.log";
  WriteUpdateStatus(L"7d1c-upd", outcome);

  const std::wstring output = MakeScratchFolder(L"reg") + L"\\query.txt";
  wchar_t system_directory[MAX_PATH] = {};
  ASSERT_NE(::GetSystemDirectoryW(system_directory, MAX_PATH), 0u);
  const std::wstring cmd = std::wstring(system_directory) + L"\\cmd.exe";
  ASSERT_EQ(RunToExit(cmd,
                      L" /c reg query \"HKLM\\SOFTWARE\\Corvanta\\RemoteUpdater\" /v Status"
                      L" > \"" +
                          output + L"\""),
            0u);

  const std::string shown = ReadWholeFile(output);
  const std::string expected_value =
      "7d1c-upd|failed:MSI exit 1603; log: C:\\Update Packages\\u.msi.log";
  const size_t line = shown.find("Status");
  ASSERT_NE(line, std::string::npos) << shown;
  const std::string rest = shown.substr(line, shown.find('\n', line) - line);
  EXPECT_NE(rest.find("REG_SZ"), std::string::npos) << rest;
  EXPECT_NE(rest.find(expected_value), std::string::npos) << rest;
}

}  // namespace
