// The simulated Windows: the Service Control Manager. Services answer stop
// and start requests over virtual time, as their set-ups script them.
#include <cstring>

#include "state.h"

using namespace winsim::detail;

namespace {

Service* FindService(const std::wstring& name) {
  auto& services = TheWorld().services;
  auto found = services.find(Fold(name));
  return found == services.end() ? nullptr : &found->second;
}

DWORD StartHostProcess(const winsim::ServiceSpec& service) {
  winsim::ProcessSpec host;
  host.exe_name = service.host_exe_name;
  host.image_path = service.host_image_path;
  return NewProcess(std::move(host));
}

// The service reports STOPPED; its host process ends as scripted.
void ReachStopped(const std::wstring& name) {
  Service* service = FindService(name);
  if (service == nullptr || service->state == SERVICE_STOPPED) return;
  service->state = SERVICE_STOPPED;
  if (Process* host = FindProcess(service->host_pid)) {
    if (service->setup.host_lingers_ms && !HasEnded(*host)) {
      host->ends_at_ms = TheWorld().now_ms + *service->setup.host_lingers_ms;
    }
  }
  service->host_pid = 0;
}

// The service behind an open service handle that grants `needed`, or null
// with the error set.
Service* ServiceOf(SC_HANDLE handle, DWORD needed) {
  HandleEntry* entry = FindHandle(handle, HandleKind::kService);
  if (entry == nullptr) return nullptr;
  if ((entry->access & needed) != needed) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  Service* service = FindService(entry->path);
  if (service == nullptr) SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
  return service;
}

void FillStatus(const Service& service, SERVICE_STATUS& status) {
  std::memset(&status, 0, sizeof(status));
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = service.state;
  status.dwControlsAccepted = service.state == SERVICE_RUNNING ? 1u : 0u;
}

}  // namespace

namespace winsim {

void AddService(ServiceSpec setup) {
  Service service;
  service.state = setup.state;
  if (setup.state != SERVICE_STOPPED) service.host_pid = StartHostProcess(setup);
  service.setup = std::move(setup);
  const std::wstring name = service.setup.name;
  if (service.setup.stops_at_ms) {
    winsim::At(*service.setup.stops_at_ms, [name] { ReachStopped(name); });
  }
  TheWorld().services[Fold(name)] = std::move(service);
}

DWORD ServiceState(const std::wstring& name) {
  const Service* service = FindService(name);
  return service == nullptr ? 0 : service->state;
}

DWORD ServiceHostPid(const std::wstring& name) {
  const Service* service = FindService(name);
  return service == nullptr ? 0 : service->host_pid;
}

}  // namespace winsim

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR machine_name, LPCWSTR database_name, DWORD desired) {
  const std::wstring detail = L"machine=" + Quote(machine_name) + L" database=" +
                              Quote(database_name) + L" access=" + Hex(desired);
  return CallSettingLastError("OpenSCManagerW", detail, SC_HANDLE{nullptr}, [&](size_t) {
    HandleEntry entry(HandleKind::kServiceManager);
    entry.access = desired;
    return reinterpret_cast<SC_HANDLE>(AddHandle(std::move(entry)));
  });
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE manager, LPCWSTR service_name, DWORD desired) {
  const std::wstring name = service_name ? service_name : L"";
  const std::wstring detail = L"name=" + name + L" access=" + Hex(desired);
  return CallSettingLastError("OpenServiceW", detail, SC_HANDLE{nullptr}, [&](size_t) -> SC_HANDLE {
    HandleEntry* manager_entry = FindHandle(manager, HandleKind::kServiceManager);
    if (manager_entry == nullptr) return nullptr;
    if ((manager_entry->access & SC_MANAGER_CONNECT) == 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    const Service* service = FindService(name);
    if (service == nullptr) {
      SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
      return nullptr;
    }
    HandleEntry entry(HandleKind::kService);
    entry.access = desired;
    entry.path = service->setup.name;
    return reinterpret_cast<SC_HANDLE>(AddHandle(std::move(entry)));
  });
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
  return CallSettingLastError("CloseServiceHandle", L"", FALSE, [&](size_t) -> BOOL {
    World& w = TheWorld();
    auto found = w.handles.find(reinterpret_cast<uintptr_t>(handle));
    const HandleKind kind =
        found != w.handles.end() && found->second.kind == HandleKind::kServiceManager
            ? HandleKind::kServiceManager
            : HandleKind::kService;
    return RemoveHandle(handle, kind, "CloseServiceHandle") ? TRUE : FALSE;
  });
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE handle, LPSERVICE_STATUS status) {
  return CallSettingLastError("QueryServiceStatus", L"", FALSE, [&](size_t call) -> BOOL {
    Service* service = ServiceOf(handle, SERVICE_QUERY_STATUS);
    AddDetail(call, L"state=" + std::to_wstring(service ? service->state : 0));
    if (service == nullptr) return FALSE;
    FillStatus(*service, *status);
    return TRUE;
  });
}

BOOL WINAPI QueryServiceStatusEx(SC_HANDLE handle, SC_STATUS_TYPE info_level, LPBYTE buffer,
                                 DWORD buffer_size, LPDWORD bytes_needed) {
  return CallSettingLastError("QueryServiceStatusEx", L"", FALSE, [&](size_t call) -> BOOL {
    Service* service = ServiceOf(handle, SERVICE_QUERY_STATUS);
    AddDetail(call, L"state=" + std::to_wstring(service ? service->state : 0) + L" pid=" +
                        std::to_wstring(service ? service->host_pid : 0) + L" size=" +
                        std::to_wstring(buffer_size));
    if (service == nullptr) return FALSE;
    if (info_level != SC_STATUS_PROCESS_INFO) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    if (bytes_needed != nullptr) *bytes_needed = sizeof(SERVICE_STATUS_PROCESS);
    if (buffer == nullptr || buffer_size < sizeof(SERVICE_STATUS_PROCESS)) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    SERVICE_STATUS plain;
    FillStatus(*service, plain);
    SERVICE_STATUS_PROCESS full{};
    std::memcpy(&full, &plain, sizeof(plain));
    full.dwProcessId = service->state == SERVICE_STOPPED ? 0 : service->host_pid;
    std::memcpy(buffer, &full, sizeof(full));
    return TRUE;
  });
}

BOOL WINAPI ControlService(SC_HANDLE handle, DWORD control, LPSERVICE_STATUS status) {
  return CallSettingLastError("ControlService", L"control=" + std::to_wstring(control), FALSE,
                              [&](size_t) -> BOOL {
    if (control != SERVICE_CONTROL_STOP) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    Service* service = ServiceOf(handle, SERVICE_STOP);
    if (service == nullptr) return FALSE;
    if (service->state == SERVICE_STOPPED) {
      SetLastError(ERROR_SERVICE_NOT_ACTIVE);
      return FALSE;
    }
    // A service on its way down takes no further control.
    if (service->state == SERVICE_STOP_PENDING) {
      SetLastError(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
      return FALSE;
    }
    if (!service->setup.ignores_stop) {
      const std::wstring name = service->setup.name;
      if (service->setup.stop_takes_ms == 0) {
        ReachStopped(name);
      } else {
        service->state = SERVICE_STOP_PENDING;
        winsim::At(TheWorld().now_ms + service->setup.stop_takes_ms, [name] { ReachStopped(name); });
      }
    }
    if (status != nullptr) FillStatus(*service, *status);
    return TRUE;
  });
}

BOOL WINAPI StartServiceW(SC_HANDLE handle, DWORD argument_count, LPCWSTR* arguments) {
  const std::wstring detail =
      L"arguments=" + std::to_wstring(argument_count) + (arguments ? L" vector" : L" null");
  return CallSettingLastError("StartServiceW", detail, FALSE, [&](size_t) -> BOOL {
    Service* service = ServiceOf(handle, SERVICE_START);
    if (service == nullptr) return FALSE;
    if (service->state != SERVICE_STOPPED) {
      SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
      return FALSE;
    }
    const std::wstring name = service->setup.name;
    service->state = SERVICE_START_PENDING;
    service->host_pid = StartHostProcess(service->setup);
    auto settle = [name] {
      Service* s = FindService(name);
      if (s == nullptr || s->state != SERVICE_START_PENDING) return;
      if (s->setup.falls_back_after_start) {
        if (Process* host = FindProcess(s->host_pid)) host->ends_at_ms = TheWorld().now_ms;
        s->state = SERVICE_STOPPED;
        s->host_pid = 0;
      } else {
        s->state = SERVICE_RUNNING;
      }
    };
    if (service->setup.start_takes_ms == 0) {
      settle();
    } else {
      winsim::At(TheWorld().now_ms + service->setup.start_takes_ms, settle);
    }
    return TRUE;
  });
}
