// Whole updates under Wine, as the product runs them: version 1 of the sample product is
// installed, its service runs and its UI is open; then both modes of RemoteUpdater.exe run side
// by side with one token, and each test checks from outside what a user would see. The ways an
// installation ends run both directly and on the product's road (update_road_e2e_test.cpp has
// the road's own cases). Every test runs in a prefix of its own.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <tuple>

#include "e2e/product_update.h"

namespace {

using UpdateEndToEnd = ProductUpdate;

// The ways an installation ends, each begun both ways: directly, by starting both modes of
// RemoteUpdater.exe, and on the road, by a click in the UI.
enum class Driver { kDirect, kRoad };

struct InstallerEnd {
  const char* name;
  const wchar_t* package;
  const wchar_t* reason;  // after "failed:"; none: completed
  const wchar_t* version_afterwards;
  const wchar_t* shown = nullptr;  // none: the reason and the installer's log
  bool package_exists = true;
};

class UpdateOutcomes : public ProductUpdate,
                       public ::testing::WithParamInterface<std::tuple<Driver, InstallerEnd>> {};

// The outcome names the reason and the installer's log, the package goes only after a
// completed installation, the service runs again in a new process, and the product runs again
// as the version the installer left, telling its user the outcome. A copy of the program
// elsewhere is not the product and runs on.
TEST_P(UpdateOutcomes, ProductRunsAgainAndTellsTheOutcome) {
  const auto& [driver, end] = GetParam();
  const UniqueHandle other_copy =
      StartProgram(CopyInto(ProductExecutablePath(), MakeScratchFolder(L"Elsewhere")));
  ASSERT_TRUE(other_copy);

  const UpdateRun update = driver == Driver::kDirect ? RunUpdate(Package(end.package))
                                                     : ApplyOnTheRoad(end.package, old_ui_pid_);

  // A delivery that was installed is not offered again.
  if (driver == Driver::kRoad && end.reason == nullptr)
    EXPECT_FALSE(FileExistsAt(road::IncomingFolder() + L"\\" + end.package));
  const std::wstring log = update.package + L".log";
  ExpectOutcome(update, end.reason == nullptr ? 0 : 1,
                end.reason == nullptr ? L"completed" : FailedOutcomeWithLog(end.reason, log));
  EXPECT_EQ(FileExistsAt(update.package), end.reason != nullptr && end.package_exists);
  EXPECT_TRUE(FileExistsAt(log));
  EXPECT_NE(ServiceHost(), first_service_host_);
  EXPECT_TRUE(IsStillRunning(other_copy.get()));
  ExpectRelaunched(update, end.version_afterwards,
                   end.shown != nullptr ? std::wstring(end.shown)
                                        : L"The last update failed (" + std::wstring(end.reason) +
                                              L").\r\nThe installer's log:\r\n" + log);
}

const InstallerEnd kInstallerEnds[] = {
    {"Completed", L"CorvantaRemote-2.0.0.msi", nullptr, L"2.0.0",
     L"The last update completed: version 2.0.0 is running"},
    // Wine's installer completes this package's files before asking for a restart, so
    // version 2 runs afterwards.
    {"RestartRequired", L"CorvantaRemote-2.0.0-reboot.msi", L"Windows restart required", L"2.0.0",
     L"The last update is installed but not finished. Restart Windows to finish the update"},
    {"Failed", L"CorvantaRemote-2.0.0-fail.msi", L"MSI exit 1603", L"1.0.0"},
};
// Packages the road never stages: only a direct start meets them.
const InstallerEnd kUnreadablePackages[] = {
    {"Corrupt", L"corrupt.msi", L"MSI exit 1627", L"1.0.0"},               // Windows: 1620
    {"Missing", L"missing.msi", L"MSI exit 2", L"1.0.0", nullptr, false},  // Windows: 1619
};
const auto kEndName = [](const auto& info) {
  return std::string(std::get<0>(info.param) == Driver::kDirect ? "Direct_" : "Road_") +
         std::get<1>(info.param).name;
};
INSTANTIATE_TEST_SUITE_P(BothWays, UpdateOutcomes,
                         ::testing::Combine(::testing::Values(Driver::kDirect, Driver::kRoad),
                                            ::testing::ValuesIn(kInstallerEnds)),
                         kEndName);
INSTANTIATE_TEST_SUITE_P(Directly, UpdateOutcomes,
                         ::testing::Combine(::testing::Values(Driver::kDirect),
                                            ::testing::ValuesIn(kUnreadablePackages)),
                         kEndName);

TEST_F(UpdateEndToEnd, LibrariesPlantedBesideTheUpdaterAreNeverLoaded) {
  // System libraries that are not known DLLs: Windows looks for them in the program's own
  // folder first, and shcore comes in with shell32.
  const std::wstring folder = FolderOf(updater_);
  PlantLibraries(folder, {L"shcore", L"version", L"uxtheme", L"dwmapi", L"propsys", L"userenv",
                          L"cryptbase", L"winmm", L"msi"});

  EXPECT_EQ(RunToExit(updater_, L""), 1u);
  ExpectCompleted(RunUpdate(Package(L"CorvantaRemote-2.0.0.msi")), L"2.0.0");
  EXPECT_EQ(FilesIn(folder, L"*.dll.loaded"), std::vector<std::wstring>{});
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

// A package that fails after the old version is removed and its files are in place. Windows
// puts version 1 back (the removal runs inside the transaction) and the outcome is "MSI exit
// 1603". Wine's msi ends with 1603 too but never rolls a major upgrade back: neither version is
// left, so the service cannot start again and the watcher finds no program to start. What the
// updater must do is the same on both: report the installer's exit and log, keep the package,
// and exit with 1 in both modes.
TEST_F(UpdateEndToEnd, PackageThatFailsLateIsReportedWithTheInstallersLog) {
  const UpdateRun update = RunUpdate(Package(L"CorvantaRemote-2.0.0-fail-late.msi"));

  const std::wstring log = update.package + updater_contract::kLogSuffix;
  ExpectOutcome(update, 1, RestartFailedOutcome(FailedOutcomeWithLog(L"MSI exit 1603", log)));
  EXPECT_TRUE(FileExistsAt(update.package));
  EXPECT_TRUE(FileExistsAt(log));
  // Wine's part: the product's folder is gone with both versions (ERROR_DIRECTORY).
  std::string expected_log = WatcherLine(updater_contract::kWatcherWaiting);
  for (int attempt = 0; attempt < 20; ++attempt) expected_log += CreateFailedLine(267);
  EXPECT_EQ(update.watcher_log, expected_log);
}

TEST_F(UpdateEndToEnd, ServiceThatWillNotStopStopsTheUpdateBeforeAnythingChanges) {
  sample::fixture::WriteDword(kServiceKey, L"IgnoreStop", 1);

  const UpdateRun update = RunUpdate(Package(L"CorvantaRemote-2.0.0.msi"));

  ExpectOutcome(update, 1, FailedOutcome(L"Service did not exit before installation"));
  // Nothing was ended or installed: version 1 runs on as it did, the watcher gave up.
  EXPECT_FALSE(FileExistsAt(update.package + updater_contract::kLogSuffix));
  EXPECT_TRUE(FileExistsAt(update.package));
  ExpectNothingStarted();
  EXPECT_EQ(update.watcher_log, WatcherLine(updater_contract::kWatcherWaiting) +
                                    WatcherLine(updater_contract::kWatcherFailedEarly) +
                                    WatcherLine(updater_contract::kWatcherGaveUp));
}

TEST_F(UpdateEndToEnd, ServiceThatWillNotStartAfterwardsIsReportedWithTheInstallation) {
  sample::fixture::WriteDword(kServiceKey, L"FailStart", 1);

  const UpdateRun update = RunUpdate(Package(L"CorvantaRemote-2.0.0.msi"));

  ExpectOutcome(update, 1, RestartFailedOutcome(L"completed"));
  // The installation itself completed: the package is gone and version 2's program is started
  // again, while the service stays stopped.
  EXPECT_FALSE(FileExistsAt(update.package));
  EXPECT_EQ(ServiceState(), DWORD{SERVICE_STOPPED});
  EXPECT_TRUE(ProcessHasEnded(old_ui_pid_));
  ExpectLaunchedOnce(update, L"2.0.0",
                     L"The update service did not start again after the last update. Restart "
                     L"Windows to finish the update");
}

}  // namespace
