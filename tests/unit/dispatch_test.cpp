// What reaches a mode through the dispatcher, and what a mode's result
// becomes. Command lines that name no mode are in the table both tiers share.
#include "app/dispatch.h"

#include "support/install_world.h"

namespace {

class DispatchTest : public WorldTest {
 protected:
  static std::string Log() { return winsim::FileContent(kUpdaterLog).value_or(""); }
};

TEST_F(DispatchTest, CommandLineThatCannotBeSplitRunsNoMode) {
  winsim::SetCommandLine(L"RemoteUpdater.exe --edk-remote-relaunch 42 tok");
  winsim::FailCall("CommandLineToArgvW", 1, ERROR_NOT_ENOUGH_MEMORY);
  int exit_code = 77;

  EXPECT_FALSE(DispatchCommandLine(exit_code));
  EXPECT_EQ(exit_code, 77);
  EXPECT_FALSE(winsim::FileExists(kUpdaterLog));
}

// The quoted package path arrives whole and unquoted: that file is installed
// and deleted.
TEST_F(DispatchTest, QuotedPackagePathArrivesUnquotedAndZeroIsTheExitCode) {
  const std::wstring msi = L"C:\\My Files\\u.msi";
  ArrangeInstallableMachine(msi);
  InstallerExitsWith(0);
  winsim::SetCommandLine(L"RemoteUpdater.exe --edk-remote-install-msi \"C:\\My Files\\u.msi\" tok");
  int exit_code = 77;

  EXPECT_TRUE(DispatchCommandLine(exit_code));
  EXPECT_EQ(exit_code, 0);
  EXPECT_TRUE(InstallerRan());
  EXPECT_EQ(PublishedRecord(), L"tok|completed");
  EXPECT_FALSE(winsim::FileExists(msi));
}

// The watcher waits for the process the command line names, which ends at 1 s.
TEST_F(DispatchTest, CompletedRelaunchAfterTheNamedProcessEndedGivesExitCodeZero) {
  winsim::SetCommandLine(L"\"C:\\Updater\\RemoteUpdater.exe\" --edk-remote-relaunch 42 tok");
  winsim::SetEnvironment(L"ProgramFiles", L"C:\\Program Files");
  winsim::SetRegistryString(kStatusKey, L"Status", L"tok|completed");
  winsim::ProcessSpec old_ui{42, L"Corvanta Remote.exe", kInstalledProduct};
  old_ui.exits_at_ms = 1000;
  winsim::AddProcess(old_ui);
  int exit_code = 77;

  EXPECT_TRUE(DispatchCommandLine(exit_code));

  EXPECT_EQ(exit_code, 0);
  ASSERT_EQ(winsim::Launches().size(), 1u);
  EXPECT_EQ(winsim::Launches()[0].at_ms, 1000u);
  EXPECT_EQ(Log().rfind("Waiting for update completion and old UI exit\r\nLaunch PID=", 0), 0u)
      << Log();
}

TEST_F(DispatchTest, WatcherThatCannotFormTheProductPathGivesExitCodeOne) {
  winsim::SetCommandLine(L"RemoteUpdater.exe --edk-remote-relaunch 42 tok");
  int exit_code = 77;

  EXPECT_TRUE(DispatchCommandLine(exit_code));

  EXPECT_EQ(exit_code, 1);
  EXPECT_EQ(Log(), "Waiting for update completion and old UI exit\r\n");
}

}  // namespace
