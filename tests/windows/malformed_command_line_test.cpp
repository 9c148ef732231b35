// RemoteUpdater.exe itself, started under Wine with command lines that name
// no mode: it must end with exit code 1 and leave nothing behind.
#include <gtest/gtest.h>

#include "support/registry_access.h"
#include "support/wine_helpers.h"

namespace {

class MalformedCommandLineTest : public WorldTest,
                                 public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(MalformedCommandLineTest, ExitsWithOneAndWritesNothing) {
  const std::wstring folder = MakeScratchFolder(L"malformed");
  const std::wstring updater = CopyInto(UpdaterExecutable(), folder);
  ASSERT_FALSE(updater.empty()) << "RemoteUpdater.exe not found; REMOTEUPDATER_EXE must name it";

  const std::optional<DWORD> exit_code = RunToExit(updater, GetParam());

  ASSERT_TRUE(exit_code.has_value());
  EXPECT_EQ(*exit_code, 1u);
  EXPECT_FALSE(StatusKeyExists());
  EXPECT_FALSE(FileExistsAt(updater + L".log"));
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, MalformedCommandLineTest,
    ::testing::Values(L"", L" --edk-remote-install-msi C:\\u.msi",
                      L" --edk-remote-install-msi C:\\u.msi tok extra",
                      L" --edk-remote-relaunch 42", L" --edk-remote-relaunch 42 tok extra",
                      L" --EDK-REMOTE-RELAUNCH 42 tok", L" --Edk-Remote-Install-Msi C:\\u.msi tok",
                      L" \"--edk-remote-relaunch \" 42 tok", L" --edk-remote-relaunch=42 x tok",
                      L" 42 --edk-remote-relaunch tok"));

}  // namespace
