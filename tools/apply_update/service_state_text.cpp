#include "apply_update/service_state_text.h"

#include <windows.h>

#include "shared/unique_handles.h"
#include "shared/updater_contract.h"

namespace apply_update {

namespace {

[[nodiscard]] const wchar_t* StateName(DWORD state) noexcept {
  switch (state) {
    case SERVICE_STOPPED:
      return L"STOPPED";
    case SERVICE_START_PENDING:
      return L"START_PENDING";
    case SERVICE_STOP_PENDING:
      return L"STOP_PENDING";
    case SERVICE_RUNNING:
      return L"RUNNING";
    case SERVICE_CONTINUE_PENDING:
      return L"CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING:
      return L"PAUSE_PENDING";
    case SERVICE_PAUSED:
      return L"PAUSED";
    default:
      return L"state ?";
  }
}

[[nodiscard]] std::wstring Failed(const wchar_t* what, DWORD error) {
  return std::wstring(what) + L" (error " + std::to_wstring(error) + L")";
}

}  // namespace

std::wstring DescribeService(SC_HANDLE manager) {
  if (manager == nullptr) return Failed(L"cannot be opened", ERROR_INVALID_HANDLE);
  const UniqueScHandle service(
      ::OpenServiceW(manager, updater_contract::kServiceName, SERVICE_QUERY_STATUS));
  if (!service) {
    const DWORD error = ::GetLastError();
    return error == ERROR_SERVICE_DOES_NOT_EXIST ? L"not installed"
                                                 : Failed(L"cannot be opened", error);
  }
  SERVICE_STATUS_PROCESS status = {};
  DWORD needed = 0;
  if (!::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE*>(&status), sizeof(status), &needed)) {
    return Failed(L"cannot be queried", ::GetLastError());
  }
  std::wstring state = StateName(status.dwCurrentState);
  if (status.dwProcessId != 0) state += L", host pid " + std::to_wstring(status.dwProcessId);
  return state;
}

}  // namespace apply_update
