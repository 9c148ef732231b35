#include "custom_action/service_actions.h"

#include <msiquery.h>

#include <cwchar>
#include <iterator>

#include "contract/road_contract.h"
#include "package/msi_handle.h"
#include "shared/unique_handles.h"

namespace {

// Writes `line` into the installation's log (the /L*V file, when there is one). Nothing else
// sees it: the installation runs silently or shows its own progress.
void LogLine(MSIHANDLE installation, const wchar_t* line) noexcept {
  const road::UniqueMsiHandle record(::MsiCreateRecord(/*fields=*/1));
  if (!record) return;
  // Field 0 is the record's format: "[1]" prints field 1 as it stands.
  if (::MsiRecordSetStringW(record.get(), 0, L"[1]") != ERROR_SUCCESS ||
      ::MsiRecordSetStringW(record.get(), 1, line) != ERROR_SUCCESS) {
    return;
  }
  (void)::MsiProcessMessage(installation, INSTALLMESSAGE_INFO, record.get());
}

// Starts the service; 0 when it started or was running already, else the Windows error.
[[nodiscard]] DWORD StartServiceOnce() noexcept {
  const UniqueScHandle manager(
      ::OpenSCManagerW(/*machine=*/nullptr, /*database=*/nullptr, SC_MANAGER_CONNECT));
  if (!manager) return ::GetLastError();
  const UniqueScHandle service(::OpenServiceW(manager.get(), road::kServiceName, SERVICE_START));
  if (!service) return ::GetLastError();
  if (::StartServiceW(service.get(), /*arguments=*/0, /*vectors=*/nullptr)) return 0;
  const DWORD error = ::GetLastError();
  return error == ERROR_SERVICE_ALREADY_RUNNING ? 0 : error;
}

}  // namespace

// Neither entry allocates: nothing may throw into the installer's process.
extern "C" UINT __stdcall StartRemoteService(MSIHANDLE installation) noexcept {
  const DWORD error = StartServiceOnce();
  wchar_t line[80] = L"StartRemoteService: service started";
  if (error != 0) {
    (void)std::swprintf(line, std::size(line),
                        L"StartRemoteService: service not started, error %lu",
                        static_cast<unsigned long>(error));
  }
  LogLine(installation, line);
  return ERROR_SUCCESS;
}

extern "C" UINT __stdcall FailInstallation(MSIHANDLE installation) noexcept {
  LogLine(installation, L"FailInstallation: failing the installation on purpose");
  return ERROR_INSTALL_FAILURE;
}
