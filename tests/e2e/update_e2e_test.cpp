// Whole updates under Wine, as the product runs them: version 1 of the sample
// product is installed, its service runs and its UI is open; then both modes
// of RemoteUpdater.exe run side by side with one token, and each test checks
// from outside what a user would see. Every test runs in a prefix of its own.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/registry_access.h"
#include "support/sample_product.h"

namespace {

constexpr DWORD kModeTimeoutMs = 180000;
const std::string kFailedEarlyLine = "Update failed before old UI exited\r\n";
const std::string kGaveUpLine = "Relaunch watcher ended without launching the application\r\n";

struct UpdateResult {
  std::wstring token;
  std::optional<DWORD> installer_exit;
  std::optional<DWORD> watcher_exit;
  std::wstring record;
  std::string watcher_log;
};

class UpdateEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(road::ServiceStatus().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING))
        << "the prepared machine must run version 1's service";
    first_service_host_ = road::ServiceStatus().dwProcessId;
    product_path_ = ProductExecutablePath();
    ASSERT_TRUE(FileExistsAt(product_path_)) << Narrow(product_path_);

    // The updater lives in a folder of its own, so its log starts empty.
    updater_ = CopyInto(UpdaterExecutable(), MakeScratchFolder(L"Updater"));
    ASSERT_FALSE(updater_.empty());
    packages_ = MakeScratchFolder(L"Update Packages");

    old_ui_ = StartProgram(product_path_);
    ASSERT_TRUE(old_ui_);
    old_ui_pid_ = ::GetProcessId(old_ui_.get());
    ASSERT_EQ(LastUiStart().pid, old_ui_pid_);
  }

  // A copy of one of the sample's packages, for the updater to install (and
  // delete); `name` may also name a package that does not exist.
  std::wstring Package(const std::wstring& name) {
    const std::wstring built = SampleFolder() + L"\\msi\\" + name;
    if (!FileExistsAt(built)) return packages_ + L"\\" + name;
    return CopyInto(built, packages_);
  }

  // Runs installer mode and the relaunch watcher side by side with one token
  // and waits for both. The watcher waits for the old UI opened in SetUp
  // unless given another process id.
  UpdateResult RunUpdate(const std::wstring& package, std::optional<DWORD> watched_pid = {}) {
    UpdateResult result;
    result.token = L"e2e-" + std::to_wstring(::GetTickCount());
    ProcessHandles installer = StartWithArguments(
        updater_, L" --edk-remote-install-msi \"" + package + L"\" " + result.token);
    ProcessHandles watcher = StartWithArguments(
        updater_, L" --edk-remote-relaunch " + std::to_wstring(watched_pid.value_or(old_ui_pid_)) +
                      L" " + result.token);
    result.installer_exit = ExitCodeWithin(installer.process.get(), kModeTimeoutMs);
    result.watcher_exit = ExitCodeWithin(watcher.process.get(), kModeTimeoutMs);
    result.record = PublishedRecordText();
    result.watcher_log = ReadWholeFile(updater_ + L".log");
    return result;
  }

  void ExpectProductRelaunched(const UpdateResult& update, const std::wstring& version) {
    ExpectRelaunchedAfterUpdate(update.watcher_log, version, old_ui_pid_);
  }

  void ExpectFailedInstallation(const std::wstring& package_name,
                                const std::wstring& expected_outcome) {
    const std::wstring package = Package(package_name);
    const UpdateResult update = RunUpdate(package);

    EXPECT_EQ(update.installer_exit, 1u);
    EXPECT_EQ(update.watcher_exit, 1u);
    EXPECT_EQ(update.record, update.token + L"|" + expected_outcome + package + L".log");
    EXPECT_EQ(FileExistsAt(package), package_name != L"missing.msi");
    EXPECT_TRUE(FileExistsAt(package + L".log"));
    ExpectProductRelaunched(update, L"1.0.0");
  }

  DWORD first_service_host_ = 0;
  std::wstring product_path_;
  std::wstring updater_;
  std::wstring packages_;
  UniqueHandle old_ui_;
  DWORD old_ui_pid_ = 0;
};

TEST_F(UpdateEndToEnd, CompletedUpdateInstallsVersionTwoAndRelaunchesIt) {
  // A copy of the program elsewhere is not the product.
  const std::wstring elsewhere =
      CopyInto(product_path_, MakeScratchFolder(L"Elsewhere"), L"Corvanta Remote.exe");
  const UniqueHandle other_copy = StartProgram(elsewhere);
  ASSERT_TRUE(other_copy);
  const std::wstring package = Package(L"CorvantaRemote-2.0.0.msi");

  const UpdateResult update = RunUpdate(package);

  EXPECT_EQ(update.installer_exit, 0u);
  EXPECT_EQ(update.watcher_exit, 0u);
  EXPECT_EQ(update.record, update.token + L"|completed");
  EXPECT_FALSE(FileExistsAt(package));
  EXPECT_TRUE(FileExistsAt(package + L".log"));
  EXPECT_NE(road::ServiceStatus().dwProcessId, first_service_host_);
  ExpectProductRelaunched(update, L"2.0.0");
  EXPECT_TRUE(IsStillRunning(other_copy.get()));
}

TEST_F(UpdateEndToEnd, LibrariesPlantedBesideTheUpdaterAreNeverLoaded) {
  // System libraries that are not known DLLs: Windows looks for them in the
  // program's own folder first, and shcore comes in with shell32.
  const wchar_t* const planted_names[] = {L"shcore",    L"version", L"uxtheme",
                                          L"dwmapi",    L"propsys", L"userenv",
                                          L"cryptbase", L"winmm",   L"msi"};
  const std::wstring planted = WindowsPathFromEnvironment("PLANTED_LIBRARY");
  const std::wstring folder = updater_.substr(0, updater_.rfind(L'\\'));
  for (const wchar_t* name : planted_names) {
    ASSERT_FALSE(CopyInto(planted, folder, std::wstring(name) + L".dll").empty())
        << "PLANTED_LIBRARY must name the planted library";
  }

  EXPECT_EQ(RunToExit(updater_, L""), 1u);
  const std::wstring package = Package(L"CorvantaRemote-2.0.0.msi");
  const UpdateResult update = RunUpdate(package);

  EXPECT_EQ(update.installer_exit, 0u);
  EXPECT_EQ(update.watcher_exit, 0u);
  EXPECT_EQ(update.record, update.token + L"|completed");
  ExpectProductRelaunched(update, L"2.0.0");
  // Each copy leaves "<name>.dll.loaded" beside itself when any process loads it.
  for (const wchar_t* name : planted_names) {
    EXPECT_FALSE(FileExistsAt(folder + L"\\" + name + L".dll.loaded")) << Narrow(name);
  }
}

TEST_F(UpdateEndToEnd, EarlierUpdatesRecordIsNotTakenForThisOne) {
  // The process that started the update has already gone, as the product's
  // UI may before the update ends; only the token's own outcome may then
  // release the watcher, not the record an earlier update left.
  const std::wstring earlier = L"earlier-update|completed";
  WriteRawStatus(earlier, earlier.size() + 1);
  ProcessHandles gone = StartWithArguments(product_path_, L" --exit-code 0");
  ASSERT_EQ(ExitCodeWithin(gone.process.get(), 10000), 0u);
  const std::wstring package = Package(L"CorvantaRemote-2.0.0.msi");

  const UpdateResult update = RunUpdate(package, ::GetProcessId(gone.process.get()));

  EXPECT_EQ(update.installer_exit, 0u);
  EXPECT_EQ(update.watcher_exit, 0u);
  EXPECT_EQ(update.record, update.token + L"|completed");
  ExpectProductRelaunched(update, L"2.0.0");
}

TEST_F(UpdateEndToEnd, RestartRequiredIsReportedAndTheProductRelaunched) {
  // Wine's installer completes this package's files before asking for a
  // restart, so version 2 runs afterwards.
  const std::wstring package = Package(L"CorvantaRemote-2.0.0-reboot.msi");
  const UpdateResult update = RunUpdate(package);

  EXPECT_EQ(update.installer_exit, 1u);
  EXPECT_EQ(update.watcher_exit, 1u);
  EXPECT_EQ(update.record,
            update.token + L"|failed:Windows restart required; log: " + package + L".log");
  EXPECT_TRUE(FileExistsAt(package));
  ExpectProductRelaunched(update, L"2.0.0");
}

TEST_F(UpdateEndToEnd, FailingPackageLeavesVersionOneRunning) {
  ExpectFailedInstallation(L"CorvantaRemote-2.0.0-fail.msi", L"failed:MSI exit 1603; log: ");
}

TEST_F(UpdateEndToEnd, CorruptPackageLeavesVersionOneRunning) {
  ExpectFailedInstallation(L"corrupt.msi", L"failed:MSI exit 1627; log: ");
}

TEST_F(UpdateEndToEnd, MissingPackageLeavesVersionOneRunning) {
  ExpectFailedInstallation(L"missing.msi", L"failed:MSI exit 2; log: ");
}

// Runs long: the stop is given its 30 s.
TEST_F(UpdateEndToEnd, ServiceThatWillNotStopStopsTheUpdateBeforeAnythingChanges) {
  WriteSampleDword(L"SampleService", L"IgnoreStop", 1);
  const std::wstring package = Package(L"CorvantaRemote-2.0.0.msi");

  const UpdateResult update = RunUpdate(package);

  EXPECT_EQ(update.installer_exit, 1u);
  EXPECT_EQ(update.watcher_exit, 1u);
  EXPECT_EQ(update.record, update.token + L"|failed:Service did not exit before installation");
  // Nothing was ended or installed: the old UI still runs, the watcher gave up.
  EXPECT_FALSE(FileExistsAt(package + L".log"));
  EXPECT_TRUE(FileExistsAt(package));
  EXPECT_TRUE(IsStillRunning(old_ui_.get()));
  EXPECT_EQ(update.watcher_log, kWaitingLine + kFailedEarlyLine + kGaveUpLine);
  EXPECT_EQ(road::ServiceStatus().dwProcessId, first_service_host_);
  EXPECT_EQ(ReadSampleString(L"SampleService", L"RunningVersion"), L"1.0.0");
}

// Runs long: the start is given its 30 s.
TEST_F(UpdateEndToEnd, ServiceThatWillNotStartAfterwardsIsReportedWithTheInstallation) {
  WriteSampleDword(L"SampleService", L"FailStart", 1);
  const std::wstring package = Package(L"CorvantaRemote-2.0.0.msi");

  const UpdateResult update = RunUpdate(package);

  EXPECT_EQ(update.installer_exit, 1u);
  EXPECT_EQ(update.watcher_exit, 1u);
  EXPECT_EQ(update.record, update.token +
                               L"|failed:Remote service could not restart; installation result: "
                               L"completed");
  // The installation itself completed: the package is gone and version 2's
  // program is started again, while the service stays stopped.
  EXPECT_FALSE(FileExistsAt(package));
  EXPECT_EQ(road::ServiceStatus().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_TRUE(ProcessHasEnded(old_ui_pid_));
  const std::vector<DWORD> launched = LaunchedIds(update.watcher_log);
  ASSERT_EQ(launched.size(), 1u) << update.watcher_log;
  EXPECT_EQ(LastUiStart().pid, launched[0]);
  EXPECT_EQ(LastUiStart().version, L"2.0.0");
}

}  // namespace
