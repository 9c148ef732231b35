#include "install/remote_service.h"

#include <windows.h>

#include "shared/unique_handles.h"
#include "shared/update_status.h"
#include "shared/updater_contract.h"

namespace {

using updater_contract::kServiceName;
constexpr int kStatusQueryLimit = 300;
constexpr DWORD kPollIntervalMs = 100;
constexpr DWORD kHostExitWaitMs = 10000;

static_assert(sizeof(SERVICE_STATUS_PROCESS) == 36, "the status query passes 36 bytes");

// Opens the service with `access`. The manager handle is only needed for
// this and is closed again on return.
[[nodiscard]] UniqueScHandle OpenRemoteService(DWORD access) {
  const UniqueScHandle manager(
      ::OpenSCManagerW(/*machine=*/nullptr, /*database=*/nullptr, SC_MANAGER_CONNECT));
  if (!manager) return nullptr;
  return UniqueScHandle(::OpenServiceW(manager.get(), kServiceName, access));
}

// Sends the stop control unless the service is already stopped or stopping.
[[nodiscard]] bool RequestStop(SC_HANDLE service) {
  SERVICE_STATUS status{};
  if (!::QueryServiceStatus(service, &status)) return false;
  // A stop control sent now would only be refused.
  if (status.dwCurrentState == SERVICE_STOPPED || status.dwCurrentState == SERVICE_STOP_PENDING) {
    return true;
  }
  SERVICE_STATUS reply{};
  if (::ControlService(service, SERVICE_CONTROL_STOP, &reply)) return true;
  const DWORD error = ::GetLastError();
  // It stopped by itself between the query and the control.
  return error == ERROR_SERVICE_NOT_ACTIVE;
}

// Polls until the service reports stopped, then waits for its host process.
// The service reports its process id only while it still runs or stops, so
// the process is opened during polling; once stopped, the id reads 0.
[[nodiscard]] bool AwaitStopped(SC_HANDLE service) {
  UniqueHandle host;
  for (int query = 0; query < kStatusQueryLimit; ++query) {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status),
                                sizeof(status), &needed)) {
      return false;
    }
    // A host that cannot be opened is tried again at the next poll.
    if (!host && status.dwProcessId != 0) {
      host = OwnHandle(::OpenProcess(SYNCHRONIZE, /*inherit=*/FALSE, status.dwProcessId));
    }
    // The host may still hold the service's files after it reports stopped.
    if (status.dwCurrentState == SERVICE_STOPPED) {
      return !host || ::WaitForSingleObject(host.get(), kHostExitWaitMs) == WAIT_OBJECT_0;
    }
    ::Sleep(kPollIntervalMs);
  }
  return false;
}

[[nodiscard]] bool AwaitRunning(SC_HANDLE service) {
  for (int query = 0; query < kStatusQueryLimit; ++query) {
    SERVICE_STATUS status{};
    if (!::QueryServiceStatus(service, &status)) return false;
    if (status.dwCurrentState == SERVICE_RUNNING) return true;
    ::Sleep(kPollIntervalMs);
  }
  return false;
}

// Starts the service and waits until it runs. The service handle is closed
// on return, before anything is published.
[[nodiscard]] bool StartRemoteService() {
  const UniqueScHandle service = OpenRemoteService(SERVICE_START | SERVICE_QUERY_STATUS);
  if (!service) return false;
  if (!::StartServiceW(service.get(), /*argument_count=*/0, /*arguments=*/nullptr)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_SERVICE_ALREADY_RUNNING) return false;
  }
  return AwaitRunning(service.get());
}

}  // namespace

bool StopRemoteService() {
  const UniqueScHandle service = OpenRemoteService(SERVICE_STOP | SERVICE_QUERY_STATUS);
  if (!service) return false;
  if (!RequestStop(service.get())) return false;
  return AwaitStopped(service.get());
}

bool RestartRemoteServiceAndPublish(const std::wstring& token, const std::wstring& outcome) {
  if (StartRemoteService()) {
    WriteUpdateStatus(token, outcome);
    return true;
  }
  WriteUpdateStatus(token, RestartFailedOutcome(outcome));
  return false;
}
