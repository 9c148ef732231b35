// Installer mode from end to end on a simulated machine: what is published,
// whether msiexec ran, whether the package is left, and the result.
#include "install/installer_mode.h"

#include <cstring>
#include <ostream>
#include <string>
#include <tuple>

#include "support/install_world.h"

namespace {

constexpr wchar_t kMsi[] = L"D:\\pkg\\update.msi";
constexpr wchar_t kLogSuffix[] = L"; log: D:\\pkg\\update.msi.log";

class InstallerModeTest : public WorldTest {};

// One row per way a run can end. Each runs twice: once with the service
// coming back, once with it refusing to start.
struct RunCase {
  const char* name;
  std::wstring msi_path;
  void (*arrange)();
  std::wstring outcome;
  bool installer_ran;
  bool package_deleted;
  int result;  // when the service comes back
};
void PrintTo(const RunCase& c, std::ostream* out) { *out << c.name; }

class InstallerModeRunTest : public InstallerModeTest,
                             public ::testing::WithParamInterface<std::tuple<RunCase, bool>> {};

TEST_P(InstallerModeRunTest, PublishesOneOutcomeAndKeepsThePackageUnlessCompleted) {
  const RunCase& run = std::get<0>(GetParam());
  const bool restart_fails = std::get<1>(GetParam());
  ArrangeInstallableMachine(run.msi_path);
  InstallerExitsWith(0);
  run.arrange();
  if (restart_fails) winsim::FailCall("StartServiceW", 1, ERROR_SERVICE_DISABLED);

  const int result = RunInstallerMode(run.msi_path, L"tok-42");

  EXPECT_EQ(PublishedRecord(),
            L"tok-42|" + (restart_fails ? kRestartPrefix + run.outcome : run.outcome));
  EXPECT_EQ(winsim::UseCount("RegSetValueExW"), 1u);
  EXPECT_EQ(InstallerRan(), run.installer_ran);
  EXPECT_EQ(winsim::FileExists(run.msi_path), !run.package_deleted);
  EXPECT_EQ(result, restart_fails ? 1 : run.result);
}

void ServiceIgnoresStop() {
  winsim::ServiceSpec service;
  service.name = kRemoteService;
  service.ignores_stop = true;
  winsim::AddService(service);
}

void ProductCopyNeverExits() { AddProductCopy(/*ends_after_terminate_ms=*/std::nullopt); }

// The installer's wait fails, whatever waits came before it.
void InstallerWaitFails() {
  winsim::LaunchScript script;
  script.exit_after_ms = 1000;
  script.on_start = [] {
    winsim::FailCall("WaitForSingleObject", winsim::UseCount("WaitForSingleObject") + 1,
                     ERROR_INVALID_HANDLE);
  };
  winsim::ScriptLaunches(std::wstring(kSystemDirectory) + L"\\msiexec.exe", {script});
}

const std::wstring kLog = kLogSuffix;

INSTANTIATE_TEST_SUITE_P(
    Outcomes, InstallerModeRunTest,
    ::testing::Combine(
        ::testing::Values(
            RunCase{"ServiceDoesNotStop", kMsi, ServiceIgnoresStop,
                    L"failed:Service did not exit before installation", false, false, 1},
            RunCase{"ProductCopyDoesNotExit", kMsi, ProductCopyNeverExits,
                    L"failed:Application did not exit before installation", false, false, 1},
            RunCase{"ProgramFilesUnset", kMsi, [] { winsim::UnsetEnvironment(L"ProgramFiles"); },
                    L"failed:Product installation path is unavailable", false, false, 1},
            RunCase{"SystemDirectoryUnavailable", kMsi,
                    [] { winsim::FailCall("GetSystemDirectoryW", 1, ERROR_ACCESS_DENIED); },
                    L"failed:Windows system directory is unavailable", false, false, 1},
            RunCase{"SystemDirectoryLongerThanTheBuffer", kMsi,
                    [] { winsim::SetSystemDirectory(L"C:\\" + std::wstring(257, L'w')); },
                    L"failed:Windows system directory is unavailable", false, false, 1},
            RunCase{"InstallerCannotStart", kMsi,
                    [] {
                      winsim::LaunchScript script;
                      script.create_error = ERROR_FILE_NOT_FOUND;
                      winsim::ScriptLaunches(std::wstring(kSystemDirectory) + L"\\msiexec.exe",
                                             {script});
                    },
                    L"failed:Windows Installer could not start", false, false, 1},
            RunCase{"PackagePathWithAQuote", L"D:\\pkg\\up\"date.msi", [] {},
                    L"failed:Windows Installer could not start", false, false, 1},
            RunCase{"PackagePathEndingInABackslash", L"D:\\pkg\\", [] {},
                    L"failed:Windows Installer could not start", false, false, 1},
            RunCase{"InstallerWaitFails", kMsi, InstallerWaitFails,
                    L"failed:Windows Installer did not finish" + kLog, true, false, 1},
            RunCase{"InstallerExitCodeUnreadable", kMsi,
                    [] { winsim::FailCall("GetExitCodeProcess", 0, ERROR_ACCESS_DENIED); },
                    L"failed:Windows Installer did not finish" + kLog, true, false, 1},
            RunCase{"RestartRequired", kMsi, [] { InstallerExitsWith(3010); },
                    L"failed:Windows restart required" + kLog, true, false, 1},
            RunCase{"RestartInitiatedIsJustAnExitCode", kMsi, [] { InstallerExitsWith(1641); },
                    L"failed:MSI exit 1641" + kLog, true, false, 1},
            RunCase{"FatalError", kMsi, [] { InstallerExitsWith(1603); },
                    L"failed:MSI exit 1603" + kLog, true, false, 1},
            RunCase{"ExitCodeWithTopBitSet", kMsi, [] { InstallerExitsWith(0x80000000u); },
                    L"failed:MSI exit 2147483648" + kLog, true, false, 1},
            RunCase{"LargestExitCode", kMsi, [] { InstallerExitsWith(0xFFFFFFFFu); },
                    L"failed:MSI exit 4294967295" + kLog, true, false, 1},
            RunCase{"Completed", kMsi, [] {}, L"completed", true, true, 0}),
        ::testing::Bool()),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) ? "_ServiceStaysDown" : "_ServiceComesBack");
    });

TEST_F(InstallerModeTest, InstallerCommandLineQuotesPathsWithSpaces) {
  const std::wstring msi = L"C:\\My Files\\Update 2.0.msi";
  ArrangeInstallableMachine(msi);
  InstallerExitsWith(0);

  EXPECT_EQ(RunInstallerMode(msi, L"tok"), 0);

  ASSERT_EQ(winsim::Launches().size(), 1u);
  const winsim::Launch& launch = winsim::Launches()[0];
  EXPECT_EQ(launch.application, L"C:\\Windows\\system32\\msiexec.exe");
  EXPECT_EQ(launch.command_line,
            L"\"C:\\Windows\\system32\\msiexec.exe\" /i \"C:\\My Files\\Update 2.0.msi\" /qn "
            L"REINSTALLMODE=amus LAUNCH_TRAY_APP=N REBOOT=ReallySuppress /norestart /L*V "
            L"\"C:\\My Files\\Update 2.0.msi.log\"");
  EXPECT_EQ(launch.creation_flags, static_cast<DWORD>(CREATE_NO_WINDOW));
  EXPECT_EQ(launch.inherit_handles, FALSE);
  EXPECT_TRUE(launch.environment_null);
  EXPECT_TRUE(launch.security_attributes_null);
  EXPECT_EQ(launch.current_directory, std::nullopt);
  STARTUPINFOW expected_startup{};
  expected_startup.cb = sizeof(STARTUPINFOW);
  EXPECT_EQ(std::memcmp(&launch.startup_info, &expected_startup, sizeof(STARTUPINFOW)), 0);
}

TEST_F(InstallerModeTest, LongestSystemDirectoryThatFitsIsUsed) {
  const std::wstring directory = L"C:\\" + std::wstring(256, L'w');  // 259 characters
  ArrangeInstallableMachine(kMsi);
  winsim::SetSystemDirectory(directory);
  InstallerExitsWith(0, 1000, directory);

  EXPECT_EQ(RunInstallerMode(kMsi, L"tok"), 0);
  ASSERT_EQ(winsim::Launches().size(), 1u);
  EXPECT_EQ(winsim::Launches()[0].application, directory + L"\\msiexec.exe");
}

// The product copy is ended only once the service has stopped, and msiexec
// starts only when both are gone, before any outcome is visible.
TEST_F(InstallerModeTest, InstallerStartsOnceServiceAndProductAreDown) {
  ArrangeInstallableMachine(kMsi, /*stop_takes_ms=*/300);
  const DWORD product = AddProductCopy(/*ends_after_terminate_ms=*/100);
  bool product_ran_while_service_stopped = false;
  winsim::At(200, [&] { product_ran_while_service_stopped = winsim::IsRunning(product); });
  struct {
    DWORD service_state = 0;
    bool product_running = true;
    std::optional<std::wstring> record = L"not read";
    bool package_present = false;
  } at_install;
  winsim::LaunchScript installer;
  installer.exit_after_ms = 1000;
  installer.on_start = [&] {
    at_install = {winsim::ServiceState(kRemoteService), winsim::IsRunning(product),
                  PublishedRecord(), winsim::FileExists(kMsi)};
  };
  winsim::ScriptLaunches(std::wstring(kSystemDirectory) + L"\\msiexec.exe", {installer});

  EXPECT_EQ(RunInstallerMode(kMsi, L"tok"), 0);

  EXPECT_TRUE(product_ran_while_service_stopped);
  EXPECT_EQ(at_install.service_state, SERVICE_STOPPED);
  EXPECT_FALSE(at_install.product_running);
  EXPECT_EQ(at_install.record, std::nullopt);
  EXPECT_TRUE(at_install.package_present);
  EXPECT_EQ(winsim::ExitCodeOf(product), 0u);
  EXPECT_EQ(winsim::ServiceState(kRemoteService), SERVICE_RUNNING);
  EXPECT_EQ(PublishedRecord(), L"tok|completed");
  EXPECT_FALSE(winsim::FileExists(kMsi));
}

TEST_F(InstallerModeTest, FailedServiceStopLeavesProductRunningButRestartsTheService) {
  ArrangeInstallableMachine(kMsi);
  winsim::FailCall("ControlService", 1, ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
  const DWORD product = AddProductCopy();

  EXPECT_EQ(RunInstallerMode(kMsi, L"tok"), 1);

  EXPECT_TRUE(winsim::IsRunning(product));
  EXPECT_EQ(winsim::UseCount("CreateToolhelp32Snapshot"), 0u);
  EXPECT_EQ(winsim::UseCount("StartServiceW"), 1u);
  EXPECT_EQ(PublishedRecord(), L"tok|failed:Service did not exit before installation");
}

TEST_F(InstallerModeTest, UninstalledServiceNestsTheStopFailureBehindTheRestartPrefix) {
  winsim::SetEnvironment(L"ProgramFiles", L"C:\\Program Files");
  winsim::SetFile(kMsi, "package bytes");

  EXPECT_EQ(RunInstallerMode(kMsi, L"tok"), 1);
  EXPECT_EQ(PublishedRecord(), L"tok|" + std::wstring(kRestartPrefix) +
                                   L"failed:Service did not exit before installation");
  EXPECT_TRUE(winsim::FileExists(kMsi));
}

TEST_F(InstallerModeTest, InstallerIsAwaitedWithoutATimeLimit) {
  constexpr uint64_t kThreeHours = 3ull * 60 * 60 * 1000;
  ArrangeInstallableMachine(kMsi);
  InstallerExitsWith(0, kThreeHours);
  std::optional<std::wstring> seen_during_install = L"not read";
  winsim::At(kThreeHours - 1, [&] { seen_during_install = PublishedRecord(); });

  EXPECT_EQ(RunInstallerMode(kMsi, L"tok"), 0);
  EXPECT_EQ(seen_during_install, std::nullopt);
  EXPECT_EQ(PublishedRecord(), L"tok|completed");
  EXPECT_GE(winsim::NowMs(), kThreeHours);
}

TEST_F(InstallerModeTest, FailedDeletionDoesNotChangeTheResult) {
  ArrangeInstallableMachine(kMsi);
  InstallerExitsWith(0);
  winsim::FailCall("DeleteFileW", 1, ERROR_SHARING_VIOLATION);

  EXPECT_EQ(RunInstallerMode(kMsi, L"tok"), 0);
  EXPECT_EQ(PublishedRecord(), L"tok|completed");
}

}  // namespace
