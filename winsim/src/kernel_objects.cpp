// The simulated Windows: closing kernel handles, and waiting for a process
// to end on the virtual clock.
#include "state.h"

using namespace winsim::detail;

BOOL WINAPI CloseHandle(HANDLE handle) {
  World& w = TheWorld();
  auto found = w.handles.find(reinterpret_cast<uintptr_t>(handle));
  const bool known = found != w.handles.end();
  const HandleKind kind = known ? found->second.kind : HandleKind::kKey;
  const std::wstring detail = known ? L"pid=" + std::to_wstring(found->second.pid) : L"unknown";
  return CallSettingLastError("CloseHandle", detail, FALSE, [&](size_t) -> BOOL {
    switch (kind) {
      case HandleKind::kProcess:
      case HandleKind::kThread:
      case HandleKind::kSnapshot:
      case HandleKind::kFile:
        return RemoveHandle(handle, kind, "CloseHandle") ? TRUE : FALSE;
      default:
        Problem("CloseHandle of something that is not an open kernel handle");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
  });
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  const std::wstring detail = PidText(handle) + L" timeout=" + std::to_wstring(milliseconds);
  return CallSettingLastError("WaitForSingleObject", detail, WAIT_FAILED, [&](size_t) -> DWORD {
    HandleEntry* entry = FindHandle(handle, HandleKind::kProcess);
    if (entry == nullptr) return WAIT_FAILED;
    if (!GrantsAny(*entry, SYNCHRONIZE)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return WAIT_FAILED;
    }
    const DWORD pid = entry->pid;
    auto ended = [pid] { return HasEnded(*FindProcess(pid)); };
    const bool signalled = PassTimeUntil(ended, FindProcess(pid)->ends_at_ms, milliseconds,
                                         "WaitForSingleObject");
    if (signalled) return WAIT_OBJECT_0;
    return milliseconds == INFINITE ? WAIT_FAILED : WAIT_TIMEOUT;
  });
}
