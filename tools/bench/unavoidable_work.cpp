#include "bench/unavoidable_work.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "bench/measurement.h"
#include "bench/update_observer.h"
#include "contract/road_contract.h"
#include "install/installer_command_line.h"
#include "shared/update_status.h"
#include "shared/updater_contract.h"
#include "ui/service_status.h"

namespace bench {

namespace {

// The product's service opened for `access`. Not named OpenService: the SDK's macro would make
// it an overload of OpenServiceW, which hides the API's own.
[[nodiscard]] UniqueScHandle OpenProductService(DWORD access) noexcept {
  const UniqueScHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return nullptr;
  return UniqueScHandle(::OpenServiceW(manager.get(), updater_contract::kServiceName, access));
}

// msiexec as installer mode starts it on `package`.
[[nodiscard]] UniqueHandle StartInstaller(const std::wstring& package) {
  wchar_t system[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    std::wprintf(L"start-failed=no system directory\n");
    return nullptr;
  }
  const std::wstring msiexec = std::wstring(system) + L"\\msiexec.exe";
  return Start(msiexec.c_str(),
               InstallerCommandLine(msiexec, package, package + updater_contract::kLogSuffix));
}

// Starts the reinstalled service and waits until it runs; false, having said why, otherwise.
[[nodiscard]] bool StartServiceAndWait(const Clock& clock) {
  const UniqueScHandle service = OpenProductService(SERVICE_START);
  if (!service || !::StartServiceW(service.get(), 0, nullptr)) {
    std::wprintf(L"setup-failed=cannot start the reinstalled service (%lu)\n", ::GetLastError());
    return false;
  }
  const double asked = clock.Ms();
  while (road::ServiceStatus().dwCurrentState != SERVICE_RUNNING) {
    if (clock.Ms() - asked > kGiveUpMs) {
      PrintGaveUp(L"the reinstalled service to run");
      return false;
    }
    ::Sleep(1);
  }
  return true;
}

// Writes a record as installer mode publishes one and returns how long that took.
[[nodiscard]] double TimePublish() {
  const Clock clock;
  WriteUpdateStatus(FreshToken(), updater_contract::kCompletedOutcome);
  return clock.Ms();
}

}  // namespace

int TimeUnavoidableWork(const std::wstring& package, DWORD ui_pid) {
  Moments moments;
  const Clock clock;
  const UniqueScHandle service = OpenProductService(SERVICE_STOP);
  const UniqueHandle host =
      OwnHandle(::OpenProcess(SYNCHRONIZE, /*inherit=*/FALSE, road::ServiceStatus().dwProcessId));
  const UniqueHandle ui =
      OwnHandle(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, /*inherit=*/FALSE, ui_pid));
  SERVICE_STATUS status = {};
  if (!service || !host || !ui || !::ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    std::wprintf(L"setup-failed=cannot stop the service or open the UI program\n");
    return 1;
  }
  if (!WaitFor(host.get(), L"the service's host process to end")) return 1;
  moments.host_ended = clock.Ms();
  ::TerminateProcess(ui.get(), 0);
  if (!WaitFor(ui.get(), L"the UI program to end")) return 1;
  moments.ui_ended = clock.Ms();
  const UniqueHandle msiexec = StartInstaller(package);
  if (!msiexec) return 1;
  moments.msiexec_started = clock.Ms();
  if (!WaitFor(msiexec.get(), L"msiexec to end")) return 1;
  moments.msiexec_ended = clock.Ms();
  if (!StartServiceAndWait(clock)) return 1;
  moments.running = clock.Ms();
  const double publish = TimePublish();
  PrintMs(L"total", moments.running);
  std::wprintf(L"exit=%lu\n", ExitCodeOf(msiexec.get()));
  moments.Print();
  PrintMs(L"publish", publish);
  return 0;
}

}  // namespace bench
