// Which command lines run a mode, and what a rejected one leaves behind.
#include "app/dispatch.h"

#include "support/world_test.h"

namespace {

class DispatchTest : public WorldTest {};

// Command lines that must not run any mode: the exit code stays as it was,
// and no record, log or process is touched.
class RejectedCommandLineTest : public DispatchTest,
                                public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(RejectedCommandLineTest, RunsNoModeAndTouchesNothing) {
  winsim::SetCommandLine(GetParam());
  int exit_code = 77;

  EXPECT_FALSE(DispatchCommandLine(exit_code));
  EXPECT_EQ(exit_code, 77);
  EXPECT_EQ(winsim::CallOrder(), (std::vector<std::string>{"GetCommandLineW", "CommandLineToArgvW", "LocalFree"}));
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, RejectedCommandLineTest,
    ::testing::Values(
        L"\"C:\\Updater\\RemoteUpdater.exe\"",
        L"RemoteUpdater.exe --edk-remote-install-msi C:\\u.msi",
        L"RemoteUpdater.exe --edk-remote-install-msi C:\\u.msi tok extra",
        L"RemoteUpdater.exe --edk-remote-relaunch 42",
        L"RemoteUpdater.exe --edk-remote-relaunch 42 tok extra",
        L"RemoteUpdater.exe --EDK-REMOTE-RELAUNCH 42 tok",
        L"RemoteUpdater.exe --Edk-Remote-Install-Msi C:\\u.msi tok",
        L"RemoteUpdater.exe --edk-remote-relaunch=42 x tok",
        L"RemoteUpdater.exe \"--edk-remote-relaunch \" 42 tok",
        L"RemoteUpdater.exe -edk-remote-relaunch 42 tok",
        L"RemoteUpdater.exe 42 --edk-remote-relaunch tok",
        L"RemoteUpdater.exe C:\\u.msi tok --edk-remote-install-msi",
        L"RemoteUpdater.exe --edk-remote-relaunc 42 tok"));

TEST_F(DispatchTest, CommandLineThatCannotBeSplitRunsNoMode) {
  winsim::SetCommandLine(L"RemoteUpdater.exe --edk-remote-relaunch 42 tok");
  winsim::FailCall("CommandLineToArgvW", 1, ERROR_NOT_ENOUGH_MEMORY);
  int exit_code = 77;

  EXPECT_FALSE(DispatchCommandLine(exit_code));
  EXPECT_EQ(exit_code, 77);
  EXPECT_EQ(winsim::UseCount("LocalFree"), 0u);
}

}  // namespace
