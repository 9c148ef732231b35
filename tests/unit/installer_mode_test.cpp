// Installer mode from end to end on a simulated machine: what is published,
// whether msiexec ran, whether the package is left, and the result.
#include "install/installer_mode.h"

#include <string>
#include <tuple>

#include "support/world_test.h"

namespace {

class InstallerModeTest : public WorldTest {};

const std::wstring kInstallerDidNotFinish =
    FailedWithLogText(L"Windows Installer did not finish", kPackage);
const std::wstring kInstallerCouldNotStart = FailedOutcome(L"Windows Installer could not start");
const std::wstring kSystemDirectoryUnavailable =
    FailedOutcome(L"Windows system directory is unavailable");

// One row per way a run can end. Each runs twice: once with the service
// coming back, once with it refusing to start. Only a completed installation
// removes the package, and only one with the service back ends with 0.
struct RunCase {
  const char* name;
  Machine machine;
  std::wstring outcome;
  bool installer_ran;
  std::wstring msi_path = kPackage;
};

class InstallerModeRunTest : public InstallerModeTest,
                             public ::testing::WithParamInterface<std::tuple<RunCase, bool>> {};

TEST_P(InstallerModeRunTest, PublishesOneOutcomeAndKeepsThePackageUnlessCompleted) {
  const RunCase& run = std::get<0>(GetParam());
  const bool restart_fails = std::get<1>(GetParam());
  Machine machine = run.machine;
  machine.package = run.msi_path;
  if (restart_fails) machine.faults.push_back({"StartServiceW", 1, ERROR_SERVICE_DISABLED});
  ArrangeMachine(machine);

  const int result = RunInstallerMode(run.msi_path, L"tok-42");

  const bool completed = run.outcome == kCompletedOutcome;
  EXPECT_EQ(
      PublishedRecord(),
      StatusRecordText(L"tok-42", restart_fails ? RestartFailedOutcome(run.outcome) : run.outcome));
  EXPECT_EQ(InstallerRan(), run.installer_ran);
  EXPECT_EQ(winsim::FileExists(run.msi_path), !completed);
  EXPECT_EQ(result, completed && !restart_fails ? 0 : 1);
}

std::wstring MsiExit(DWORD code) {
  return FailedWithLogText(L"MSI exit " + std::to_wstring(code), kPackage);
}
Machine Failing(Fault fault) { return {.faults = {fault}}; }
Machine InstallerExits(DWORD code) { return {.installer_exit = code}; }
Machine SystemDirectory(size_t length) {
  return {.system_directory = L"C:\\" + std::wstring(length - 3, L'w')};
}

// clang-format off
const RunCase kRuns[] = {
    {"ServiceDoesNotStop", {.service = winsim::ServiceSpec{.ignores_stop = true}},
     FailedOutcome(L"Service did not exit before installation"), false},
    {"ProductCopyDoesNotExit", {.product_copies = {kNever}},
     FailedOutcome(L"Application did not exit before installation"), false},
    {"ProductCopyCannotBeTerminated",
     {.product_copies = {kNever}, .faults = {{"TerminateProcess", 1, ERROR_ACCESS_DENIED}}},
     L"failed:Could not stop the running application", false},
    {"ProgramFilesUnset", {.program_files = std::nullopt},
     FailedOutcome(L"Product installation path is unavailable"), false},
    {"SystemDirectoryUnavailable", Failing({"GetSystemDirectoryW", 1, ERROR_ACCESS_DENIED}),
     kSystemDirectoryUnavailable, false},
    {"SystemDirectoryLongerThanTheBuffer", SystemDirectory(260), kSystemDirectoryUnavailable,
     false},
    {"LongestSystemDirectoryThatFits", SystemDirectory(259), kCompletedOutcome, true},
    {"InstallerCannotStart", Failing({"CreateProcessW", 1, ERROR_FILE_NOT_FOUND}),
     kInstallerCouldNotStart, false},
    {"PackagePathWithAQuote", {}, kInstallerCouldNotStart, false, L"D:\\pkg\\up\"date.msi"},
    {"PackagePathEndingInABackslash", {}, kInstallerCouldNotStart, false, L"D:\\pkg\\"},
    // The service's host ends as the service stops, unawaited: the
    // installer's is the first wait.
    {"InstallerWaitFails", Failing({"WaitForSingleObject", 1, ERROR_INVALID_HANDLE}),
     kInstallerDidNotFinish, true},
    {"InstallerExitCodeUnreadable", Failing({"GetExitCodeProcess", 0, ERROR_ACCESS_DENIED}),
     kInstallerDidNotFinish, true},
    {"RestartRequired", InstallerExits(3010),
     FailedWithLogText(L"Windows restart required", kPackage), true},
    {"RestartInitiatedIsJustAnExitCode", InstallerExits(1641), MsiExit(1641), true},
    {"FatalError", InstallerExits(1603), MsiExit(1603), true},
    {"ExitCodeWithTopBitSet", InstallerExits(0x80000000u), MsiExit(0x80000000u), true},
    {"LargestExitCode", InstallerExits(0xFFFFFFFFu), MsiExit(0xFFFFFFFFu), true},
    {"Completed", {}, kCompletedOutcome, true},
    {"InstallerIsAwaitedWithoutATimeLimit", {.installer_takes_ms = 3 * 3600 * 1000},
     kCompletedOutcome, true},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Outcomes, InstallerModeRunTest,
                         ::testing::Combine(::testing::ValuesIn(kRuns), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_ServiceStaysDown"
                                                           : "_ServiceComesBack");
                         });

// The product copy is ended only once the service has stopped, and msiexec
// starts only when both are gone, before any outcome is visible.
TEST_F(InstallerModeTest, InstallerStartsOnceServiceAndProductAreDown) {
  const Machine machine{.service = winsim::ServiceSpec{.stop_takes_ms = 300},
                        .product_copies = {100}};
  const DWORD product = ArrangeMachine(machine).at(0);
  bool product_ran_while_service_stopped = false;
  winsim::At(200, [&] { product_ran_while_service_stopped = winsim::IsRunning(product); });
  // The service's state, whether the product runs, the record and whether the package is there.
  std::tuple<DWORD, bool, std::optional<std::wstring>, bool> at_install;
  winsim::LaunchScript installer{.exit_after_ms = 1000};
  installer.on_start = [&] {
    at_install = {winsim::ServiceState(updater_contract::kServiceName), winsim::IsRunning(product),
                  PublishedRecord(), winsim::FileExists(kPackage)};
  };
  winsim::ScriptLaunches(kSystemDirectory + L"\\msiexec.exe", {installer});

  EXPECT_EQ(RunInstallerMode(kPackage, L"tok"), 0);

  EXPECT_TRUE(product_ran_while_service_stopped);
  EXPECT_EQ(at_install, (decltype(at_install){SERVICE_STOPPED, false, std::nullopt, true}));
  EXPECT_EQ(winsim::ExitCodeOf(product), 0u);
  EXPECT_EQ(winsim::ServiceState(updater_contract::kServiceName), SERVICE_RUNNING);
  EXPECT_EQ(PublishedRecord(), StatusRecordText(L"tok", kCompletedOutcome));
  EXPECT_FALSE(winsim::FileExists(kPackage));
}

// An installer whose end could not be seen keeps its process handle until
// the outcome is published; only the thread's goes at once.
TEST_F(InstallerModeTest, UnfinishedInstallersHandleIsClosedAfterThePublication) {
  ArrangeMachine(Failing({"WaitForSingleObject", 1, ERROR_INVALID_HANDLE}));

  EXPECT_EQ(RunInstallerMode(kPackage, L"tok"), 1);

  ASSERT_EQ(winsim::Launches().size(), 1u);
  const std::wstring installer = L"pid=" + std::to_wstring(winsim::Launches()[0].pid);
  std::vector<std::string> order;
  for (const winsim::Call& call : winsim::Journal()) {
    if (call.function == "RegSetValueExW") order.push_back("publish");
    if (call.function == "CloseHandle" && call.detail == installer) order.push_back("close");
  }
  EXPECT_EQ(order, (std::vector<std::string>{"close", "publish", "close"}));
}

TEST_F(InstallerModeTest, FailedServiceStopLeavesProductRunningButRestartsTheService) {
  ArrangeMachine({.faults = {{"ControlService", 1, ERROR_SERVICE_CANNOT_ACCEPT_CTRL}}});
  const DWORD product = AddProductCopy();

  EXPECT_EQ(RunInstallerMode(kPackage, L"tok"), 1);

  EXPECT_TRUE(winsim::IsRunning(product));
  // Without the restart prefix: the service runs again.
  EXPECT_EQ(PublishedRecord(),
            StatusRecordText(L"tok", FailedOutcome(L"Service did not exit before installation")));
}

TEST_F(InstallerModeTest, UninstalledServiceNestsTheStopFailureBehindTheRestartPrefix) {
  ArrangeMachine({.service = std::nullopt});

  EXPECT_EQ(RunInstallerMode(kPackage, L"tok"), 1);
  const std::wstring not_stopped = FailedOutcome(L"Service did not exit before installation");
  EXPECT_EQ(PublishedRecord(), StatusRecordText(L"tok", RestartFailedOutcome(not_stopped)));
  EXPECT_TRUE(winsim::FileExists(kPackage));
}

}  // namespace
