// Whole updates under Wine, as the product runs them: version 1 of the sample product is
// installed, its service runs and its UI is open; then both modes of RemoteUpdater.exe run side
// by side with one token, and each test checks from outside what a user would see. Every test
// runs in a prefix of its own.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "e2e/product_update.h"

namespace {

using updater_contract::kFailedKeyword;
using updater_contract::kLogPathSeparator;

class UpdateEndToEnd : public ProductUpdate {
 protected:
  // An update whose package the installer does not install: the outcome names the reason and
  // the installer's log, the package stays (when there was one), and the product runs again as
  // `version_afterwards`, telling its user the reason and the installer's log, or `shown`.
  void ExpectNotInstalled(const std::wstring& package_name, const std::wstring& reason,
                          const std::wstring& version_afterwards = L"1.0.0",
                          const std::wstring& shown = L"") {
    const std::wstring package = Package(package_name);
    const std::wstring log = package + updater_contract::kLogSuffix;

    const UpdateRun update = RunUpdate(package);

    ExpectOutcome(update, 1, kFailedKeyword + reason + kLogPathSeparator + log);
    EXPECT_EQ(FileExistsAt(package), package_name != L"missing.msi");
    EXPECT_TRUE(FileExistsAt(log));
    ExpectRelaunched(update, version_afterwards,
                     !shown.empty() ? shown
                                    : L"The last update failed (" + reason +
                                          L").\r\nThe installer's log:\r\n" + log);
  }
};

TEST_F(UpdateEndToEnd, CompletedUpdateInstallsVersionTwoAndRelaunchesIt) {
  // A copy of the program elsewhere is not the product.
  const UniqueHandle other_copy =
      StartProgram(CopyInto(ProductExecutablePath(), MakeScratchFolder(L"Elsewhere"),
                            updater_contract::kProductExecutableName));
  ASSERT_TRUE(other_copy);
  const std::wstring package = Package(L"CorvantaRemote-2.0.0.msi");

  const UpdateRun update = RunUpdate(package);

  ExpectCompleted(update, L"2.0.0");
  EXPECT_FALSE(FileExistsAt(package));
  EXPECT_TRUE(FileExistsAt(package + updater_contract::kLogSuffix));
  EXPECT_NE(ServiceHost(), first_service_host_);
  EXPECT_TRUE(IsStillRunning(other_copy.get()));
}

TEST_F(UpdateEndToEnd, LibrariesPlantedBesideTheUpdaterAreNeverLoaded) {
  // System libraries that are not known DLLs: Windows looks for them in the program's own
  // folder first, and shcore comes in with shell32.
  const wchar_t* const planted_names[] = {L"shcore",    L"version", L"uxtheme",
                                          L"dwmapi",    L"propsys", L"userenv",
                                          L"cryptbase", L"winmm",   L"msi"};
  const std::wstring folder = FolderOf(updater_);
  PlantLibraries(folder, planted_names);

  EXPECT_EQ(RunToExit(updater_, L""), 1u);
  ExpectCompleted(RunUpdate(Package(L"CorvantaRemote-2.0.0.msi")), L"2.0.0");
  EXPECT_EQ(LoadedLibraries(folder, planted_names), std::vector<std::wstring>{});
}

TEST_F(UpdateEndToEnd, EarlierUpdatesRecordIsNotTakenForThisOne) {
  // The process that started the update has already gone, as the product's UI may before the
  // update ends; only the token's own outcome may then release the watcher, not the record an
  // earlier update left.
  const std::wstring earlier = L"earlier-update|completed";
  WriteRawStatus(earlier, earlier.size() + 1);
  ProcessHandles gone = StartWithArguments(ProductExecutablePath(), L" --exit-code 0");
  ASSERT_EQ(ExitCodeWithin(gone.process.get(), 10000), 0u);

  ExpectCompleted(
      RunUpdate(Package(L"CorvantaRemote-2.0.0.msi"), ::GetProcessId(gone.process.get())),
      L"2.0.0");
}

TEST_F(UpdateEndToEnd, RestartRequiredIsReportedAndTheProductRelaunched) {
  // Wine's installer completes this package's files before asking for a restart, so version 2
  // runs afterwards.
  ExpectNotInstalled(L"CorvantaRemote-2.0.0-reboot.msi", L"Windows restart required", L"2.0.0",
                     L"The last update is installed but not finished. Restart Windows to finish "
                     L"the update");
}

TEST_F(UpdateEndToEnd, FailingPackageLeavesVersionOneRunning) {
  ExpectNotInstalled(L"CorvantaRemote-2.0.0-fail.msi", L"MSI exit 1603");
}

TEST_F(UpdateEndToEnd, CorruptPackageLeavesVersionOneRunning) {
  ExpectNotInstalled(L"corrupt.msi", L"MSI exit 1627");  // Windows: 1620
}

TEST_F(UpdateEndToEnd, MissingPackageLeavesVersionOneRunning) {
  ExpectNotInstalled(L"missing.msi", L"MSI exit 2");  // Windows: 1619
}

// A package that fails after the old version is removed and its files are in place. Windows
// puts version 1 back (the removal runs inside the transaction) and the outcome is "MSI exit
// 1603". Wine's msi ends with 1603 too but never rolls a major upgrade back: neither version is
// left, so the service cannot start again and the watcher finds no program to start. What the
// updater must do is the same on both: report the installer's exit and log, keep the package,
// and exit with 1 in both modes.
TEST_F(UpdateEndToEnd, PackageThatFailsLateIsReportedWithTheInstallersLog) {
  const std::wstring package = Package(L"CorvantaRemote-2.0.0-fail-late.msi");
  const std::wstring log = package + updater_contract::kLogSuffix;

  const UpdateRun update = RunUpdate(package);

  ExpectOutcome(update, 1,
                updater_contract::kRestartFailedPrefix +
                    (kFailedKeyword + std::wstring(L"MSI exit 1603") + kLogPathSeparator + log));
  EXPECT_TRUE(FileExistsAt(package));
  EXPECT_TRUE(FileExistsAt(log));
  // Wine's part: the product's folder is gone with both versions (ERROR_DIRECTORY).
  std::string expected_log = WatcherLine(updater_contract::kWatcherWaiting);
  for (int attempt = 0; attempt < 20; ++attempt) {
    expected_log += WatcherLine(updater_contract::kWatcherCreateFailed + std::string("267"));
  }
  EXPECT_EQ(update.watcher_log, expected_log);
}

// Runs long: the stop is given its 30 s.
TEST_F(UpdateEndToEnd, ServiceThatWillNotStopStopsTheUpdateBeforeAnythingChanges) {
  sample::fixture::WriteDword(kServiceKey, L"IgnoreStop", 1);
  const std::wstring package = Package(L"CorvantaRemote-2.0.0.msi");

  const UpdateRun update = RunUpdate(package);

  ExpectOutcome(update, 1,
                kFailedKeyword + std::wstring(L"Service did not exit before installation"));
  // Nothing was ended or installed: the old UI still runs, the watcher gave up.
  EXPECT_FALSE(FileExistsAt(package + updater_contract::kLogSuffix));
  EXPECT_TRUE(FileExistsAt(package));
  EXPECT_TRUE(IsStillRunning(old_ui_.get()));
  EXPECT_EQ(update.watcher_log, WatcherLine(updater_contract::kWatcherWaiting) +
                                    WatcherLine(updater_contract::kWatcherFailedEarly) +
                                    WatcherLine(updater_contract::kWatcherGaveUp));
  EXPECT_EQ(ServiceHost(), first_service_host_);
  EXPECT_EQ(RunningVersion(), L"1.0.0");
}

// Runs long: the start is given its 30 s.
TEST_F(UpdateEndToEnd, ServiceThatWillNotStartAfterwardsIsReportedWithTheInstallation) {
  sample::fixture::WriteDword(kServiceKey, L"FailStart", 1);
  const std::wstring package = Package(L"CorvantaRemote-2.0.0.msi");

  const UpdateRun update = RunUpdate(package);

  ExpectOutcome(
      update, 1,
      updater_contract::kRestartFailedPrefix + std::wstring(updater_contract::kCompletedOutcome));
  // The installation itself completed: the package is gone and version 2's program is started
  // again, while the service stays stopped.
  EXPECT_FALSE(FileExistsAt(package));
  EXPECT_EQ(ServiceState(), DWORD{SERVICE_STOPPED});
  EXPECT_TRUE(ProcessHasEnded(old_ui_pid_));
  ExpectLaunchedOnce(update, L"2.0.0",
                     L"The update service did not start again after the last update. Restart "
                     L"Windows to finish the update");
}

}  // namespace
