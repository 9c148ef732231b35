// What reaches a mode through the dispatcher, and what a mode's result
// becomes. Command lines that name no mode are in the table both tiers share;
// a line that cannot be split is among the failure sweep's faults.
#include "app/dispatch.h"

#include "support/world_test.h"

namespace {

using updater_contract::kInstallSwitch;
using updater_contract::kRelaunchSwitch;
using updater_contract::kWatcherWaiting;

class DispatchTest : public WorldTest {};

// The quoted package path arrives whole and unquoted: that file is installed,
// by msiexec with the package and a log beside it each quoted whole and no
// window, and deleted.
TEST_F(DispatchTest, QuotedPackagePathArrivesUnquotedAndZeroIsTheExitCode) {
  const std::wstring msi = L"C:\\My Files\\Update 2.0.msi";
  ArrangeMachine({.package = msi});
  winsim::SetCommandLine(UpdaterCommandLine(kInstallSwitch, L"\"" + msi + L"\"", L"tok"));

  int exit_code = 77;
  EXPECT_TRUE(DispatchCommandLine(exit_code));
  EXPECT_EQ(exit_code, 0);
  ASSERT_EQ(winsim::Launches().size(), 1u);
  const winsim::Launch& launch = winsim::Launches()[0];
  EXPECT_EQ(launch.application, kSystemDirectory + L"\\msiexec.exe");
  EXPECT_EQ(launch.command_line,
            L"\"" + launch.application + L"\" /i \"" + msi +
                L"\" /qn REINSTALLMODE=amus LAUNCH_TRAY_APP=N REBOOT=ReallySuppress /norestart "
                L"/L*V \"" +
                msi + updater_contract::kLogSuffix + L"\"");
  EXPECT_TRUE(launch.windowless);
  EXPECT_EQ(PublishedRecord(), StatusRecordText(L"tok", kCompletedOutcome));
  EXPECT_FALSE(winsim::FileExists(msi));
}

// The watcher waits for the process the command line names, which ends at 1 s.
TEST_F(DispatchTest, CompletedRelaunchAfterTheNamedProcessEndedGivesExitCodeZero) {
  ArrangeMachine(
      {.old_ui_exits_at_ms = 1000, .record = {{0, StatusRecordText(L"tok", kCompletedOutcome)}}});
  winsim::SetCommandLine(UpdaterCommandLine(kRelaunchSwitch, std::to_wstring(kOldUiPid), L"tok"));

  int exit_code = 77;
  EXPECT_TRUE(DispatchCommandLine(exit_code));
  EXPECT_EQ(exit_code, 0);
  ASSERT_EQ(winsim::Launches().size(), 1u);
  EXPECT_EQ(winsim::Launches()[0].at_ms, 1000u);
  EXPECT_EQ(WatcherLog(),
            WatcherLine(kWatcherWaiting) + LaunchLine(winsim::Launches()[0].pid, STILL_ACTIVE));
}

}  // namespace
