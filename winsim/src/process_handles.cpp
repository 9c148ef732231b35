// The simulated Windows: what is done to a running process through a handle
// to it: opening it, reading its image path and exit code, terminating it.
#include <cstring>

#include "state.h"

using namespace winsim::detail;

namespace {

// The process behind an open process handle, or null with the error set.
Process* ProcessOf(HANDLE handle, DWORD needed_any) {
  HandleEntry* entry = FindHandle(handle, HandleKind::kProcess);
  if (entry == nullptr) return nullptr;
  if (!GrantsAny(*entry, needed_any)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return FindProcess(entry->pid);
}

bool AnyHandleOpenTo(DWORD pid) {
  for (const auto& [value, entry] : TheWorld().handles) {
    if (entry.kind == HandleKind::kProcess && entry.pid == pid) return true;
  }
  return false;
}

constexpr DWORD kQueryAccess = PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_QUERY_INFORMATION;

}  // namespace

HANDLE WINAPI OpenProcess(DWORD desired, BOOL inherit, DWORD process_id) {
  const std::wstring detail = L"pid=" + std::to_wstring(process_id) + L" access=" +
                              Hex(desired) + L" inherit=" + std::to_wstring(inherit);
  return CallSettingLastError("OpenProcess", detail, HANDLE{nullptr}, [&](size_t) -> HANDLE {
    Process* process = FindProcess(process_id);
    // An ended process whose last handle is closed is gone.
    if (process == nullptr || (HasEnded(*process) && !AnyHandleOpenTo(process_id))) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    HandleEntry entry(HandleKind::kProcess);
    entry.access = desired;
    entry.pid = process_id;
    return reinterpret_cast<HANDLE>(AddHandle(std::move(entry)));
  });
}

BOOL WINAPI QueryFullProcessImageNameW(HANDLE handle, DWORD flags, LPWSTR name, LPDWORD size) {
  const std::wstring detail = PidText(handle) + L" flags=" + std::to_wstring(flags) + L" size=" +
                              std::to_wstring(size ? *size : 0);
  return CallSettingLastError("QueryFullProcessImageNameW", detail, FALSE, [&](size_t) -> BOOL {
    Process* process = ProcessOf(handle, kQueryAccess);
    if (process == nullptr) return FALSE;
    const std::wstring& path = process->setup.image_path;
    if (size == nullptr || name == nullptr || *size <= path.size()) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::memcpy(name, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    *size = static_cast<DWORD>(path.size());
    return TRUE;
  });
}

BOOL WINAPI TerminateProcess(HANDLE handle, UINT exit_code) {
  const std::wstring detail = PidText(handle) + L" code=" + std::to_wstring(exit_code);
  return CallSettingLastError("TerminateProcess", detail, FALSE, [&](size_t) -> BOOL {
    Process* process = ProcessOf(handle, PROCESS_TERMINATE);
    if (process == nullptr) return FALSE;
    if (HasEnded(*process)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    if (process->setup.ends_after_terminate_ms) {
      const uint64_t ends = TheWorld().now_ms + *process->setup.ends_after_terminate_ms;
      if (!process->ends_at_ms || ends < *process->ends_at_ms) {
        process->ends_at_ms = ends;
        process->exit_code = exit_code;
      }
    }
    return TRUE;
  });
}

BOOL WINAPI GetExitCodeProcess(HANDLE handle, LPDWORD exit_code) {
  return CallSettingLastError("GetExitCodeProcess", PidText(handle), FALSE, [&](size_t) -> BOOL {
    Process* process = ProcessOf(handle, kQueryAccess);
    if (process == nullptr) return FALSE;
    *exit_code = HasEnded(*process) ? process->exit_code : STILL_ACTIVE;
    return TRUE;
  });
}
