// Command lines that name no mode, after the program's own quoted path. On the
// host the dispatcher meets them in the simulation; under Wine the built
// RemoteUpdater.exe is started with them. Either way no mode runs: nothing is
// published, installed, launched or logged, and the program ends with 1.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/registry_access.h"
#if defined(_WIN32)
#include "support/wine_helpers.h"
#else
#include "app/dispatch.h"
#endif

namespace {

class MalformedCommandLineTest : public WorldTest,
                                 public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(MalformedCommandLineTest, RunsNoModeAndLeavesNothingBehind) {
#if defined(_WIN32)
  const std::wstring updater = CopyInto(UpdaterExecutable(), MakeScratchFolder(L"malformed"));
  ASSERT_FALSE(updater.empty()) << "RemoteUpdater.exe not found; REMOTEUPDATER_EXE must name it";

  EXPECT_EQ(RunToExit(updater, GetParam()), std::optional<DWORD>(1));
  EXPECT_FALSE(FileExistsAt(updater + L".log"));
#else
  winsim::SetCommandLine(L"\"" + std::wstring(kUpdaterPath) + L"\"" + GetParam());
  int exit_code = 77;

  EXPECT_FALSE(DispatchCommandLine(exit_code));
  EXPECT_EQ(exit_code, 77);  // the entry point then ends with 1
  EXPECT_TRUE(winsim::Launches().empty());
  EXPECT_FALSE(winsim::FileExists(kUpdaterLog));
#endif
  EXPECT_FALSE(StatusKeyExists());
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, MalformedCommandLineTest,
    ::testing::Values(L"", L" --edk-remote-install-msi C:\\u.msi",
                      L" --edk-remote-install-msi C:\\u.msi tok extra",
                      L" --edk-remote-relaunch 42", L" --edk-remote-relaunch 42 tok extra",
                      L" --EDK-REMOTE-RELAUNCH 42 tok", L" --Edk-Remote-Install-Msi C:\\u.msi tok",
                      L" --edk-remote-relaunch=42 x tok", L" \"--edk-remote-relaunch \" 42 tok",
                      L" -edk-remote-relaunch 42 tok", L" 42 --edk-remote-relaunch tok",
                      L" C:\\u.msi tok --edk-remote-install-msi", L" --edk-remote-relaunc 42 tok",
                      L" --edk-remote-install-msiX C:\\u.msi tok",
                      L" --edk-remote-relaunchX 42 tok"));

}  // namespace
