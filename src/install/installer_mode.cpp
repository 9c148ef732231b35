#include "install/installer_mode.h"

#include <windows.h>

#include <utility>

#include "install/installer_command_line.h"
#include "install/remote_service.h"
#include "shared/product_processes.h"
#include "shared/status_record_text.h"
#include "shared/unique_handles.h"
#include "shared/updater_contract.h"

namespace {

using updater_contract::kCompletedOutcome;
constexpr wchar_t kInstallerCouldNotStart[] = L"Windows Installer could not start";
constexpr DWORD kRestartRequired = 3010;  // ERROR_SUCCESS_REBOOT_REQUIRED
constexpr UINT kSystemDirectoryUnits = 260;

// Returns the system directory, or an empty string when it cannot be read.
[[nodiscard]] std::wstring SystemDirectory() {
  wchar_t buffer[kSystemDirectoryUnits] = {};
  const UINT length = ::GetSystemDirectoryW(buffer, kSystemDirectoryUnits);
  // A result this large is the size the directory would need: nothing was
  // copied.
  if (length == 0 || length >= kSystemDirectoryUnits) return {};
  return std::wstring(buffer);
}

[[nodiscard]] std::wstring OutcomeOfExitCode(DWORD exit_code, const std::wstring& log_path) {
  if (exit_code == 0) return kCompletedOutcome;
  if (exit_code == kRestartRequired) {
    return FailedOutcomeWithLog(updater_contract::kRestartRequiredReason, log_path);
  }
  return FailedOutcomeWithLog(updater_contract::kInstallerExitReason + std::to_wstring(exit_code),
                              log_path);
}

// Runs msiexec silently on the package, waits for it without a time limit
// and turns its exit code into the outcome text. When the wait or the exit
// code fails, the installer's handle goes to `unfinished_installer`: it stays
// open until the outcome is published.
[[nodiscard]] std::wstring RunWindowsInstaller(const std::wstring& system_directory,
                                               const std::wstring& msi_path,
                                               UniqueHandle& unfinished_installer) {
  // A quote inside the path would close its argument early, and a trailing
  // backslash would escape the closing quote: either way the rest of the
  // command line (/qn among it) would be bent into other arguments.
  if (msi_path.find(L'"') != std::wstring::npos) return FailedOutcome(kInstallerCouldNotStart);
  if (!msi_path.empty() && msi_path.back() == L'\\') return FailedOutcome(kInstallerCouldNotStart);
  const std::wstring msiexec_path = system_directory + L"\\msiexec.exe";
  const std::wstring log_path = msi_path + updater_contract::kLogSuffix;
  std::wstring command_line = InstallerCommandLine(msiexec_path, msi_path, log_path);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  const BOOL started =
      ::CreateProcessW(msiexec_path.c_str(), command_line.data(), /*process_attributes=*/nullptr,
                       /*thread_attributes=*/nullptr, /*inherit_handles=*/FALSE, CREATE_NO_WINDOW,
                       /*environment=*/nullptr, /*current_directory=*/nullptr, &startup, &info);
  ProcessHandles installer = OwnProcessHandles(info);
  if (!started) return FailedOutcome(kInstallerCouldNotStart);
  installer.thread.reset();  // only the process is waited for
  DWORD exit_code = 0;
  if (::WaitForSingleObject(installer.process.get(), INFINITE) != WAIT_OBJECT_0 ||
      !::GetExitCodeProcess(installer.process.get(), &exit_code)) {
    unfinished_installer = std::move(installer.process);
    return FailedOutcomeWithLog(L"Windows Installer did not finish", log_path);
  }
  return OutcomeOfExitCode(exit_code, log_path);
}

// Stops what holds the product's files and runs the installer. Returns the
// outcome text of the first step that fails, or of the installer run; hands
// on the installer's handle as RunWindowsInstaller does.
[[nodiscard]] std::wstring InstallPackage(const std::wstring& msi_path,
                                          UniqueHandle& unfinished_installer) {
  if (!StopRemoteService()) return FailedOutcome(L"Service did not exit before installation");
  std::wstring failure_reason;
  if (!StopProductProcesses(failure_reason)) return FailedOutcome(failure_reason);
  const std::wstring system_directory = SystemDirectory();
  if (system_directory.empty()) return FailedOutcome(L"Windows system directory is unavailable");
  return RunWindowsInstaller(system_directory, msi_path, unfinished_installer);
}

}  // namespace

int RunInstallerMode(const std::wstring& msi_path, const std::wstring& token) {
  UniqueHandle unfinished_installer;
  const std::wstring outcome = InstallPackage(msi_path, unfinished_installer);
  // Every path ends here: the service is started again whatever happened,
  // and the outcome is published once.
  const bool service_runs = RestartRemoteServiceAndPublish(token, outcome);
  // An installer that did not finish is let go only once its outcome is out.
  unfinished_installer.reset();
  if (outcome != kCompletedOutcome) return 1;
  // The package goes only after a completed installation, even when the
  // service did not come back. A package already gone is no failure.
  (void)::DeleteFileW(msi_path.c_str());
  return service_runs ? 0 : 1;
}
