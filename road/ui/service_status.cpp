#include "ui/service_status.h"

#include "contract/road_contract.h"
#include "shared/unique_handles.h"

namespace road {

SERVICE_STATUS_PROCESS ServiceStatus() noexcept {
  SERVICE_STATUS_PROCESS status = {};
  const UniqueScHandle manager(
      ::OpenSCManagerW(/*machine=*/nullptr, /*database=*/nullptr, SC_MANAGER_CONNECT));
  const UniqueScHandle service(
      manager ? ::OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_STATUS) : nullptr);
  DWORD needed = 0;
  if (!service ||
      !::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE*>(&status), sizeof(status), &needed)) {
    return {};
  }
  return status;
}

}  // namespace road
