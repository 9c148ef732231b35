// The simulated Windows: process snapshots, and walking their entries.
#include <cstring>

#include <tlhelp32.h>

#include "state.h"

using namespace winsim::detail;

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD flags, DWORD process_id) {
  const std::wstring detail = L"flags=" + Hex(flags) + L" pid=" + std::to_wstring(process_id);
  return CallSettingLastError("CreateToolhelp32Snapshot", detail, INVALID_HANDLE_VALUE,
                              [&](size_t) -> HANDLE {
    World& w = TheWorld();
    std::vector<DWORD> running;
    for (DWORD pid : w.process_order) {
      if (!HasEnded(w.processes[pid])) running.push_back(pid);
    }
    w.snapshots.push_back(std::move(running));
    HandleEntry entry(HandleKind::kSnapshot);
    entry.snapshot = w.snapshots.size() - 1;
    return reinterpret_cast<HANDLE>(AddHandle(std::move(entry)));
  });
}

namespace {

BOOL NextSnapshotEntry(const char* function, HANDLE snapshot, LPPROCESSENTRY32W entry,
                       bool first) {
  return CallSettingLastError(function, L"", FALSE, [&](size_t call) -> BOOL {
    HandleEntry* handle = FindHandle(snapshot, HandleKind::kSnapshot);
    if (handle == nullptr) return FALSE;
    if (entry == nullptr || entry->dwSize != sizeof(PROCESSENTRY32W)) {
      Problem(std::string(function) + " with a wrong dwSize");
      SetLastError(ERROR_BAD_LENGTH);
      return FALSE;
    }
    if (first) handle->cursor = 0;
    const std::vector<DWORD>& pids = TheWorld().snapshots[handle->snapshot];
    if (handle->cursor >= pids.size()) {
      AddDetail(call, L"end");
      SetLastError(ERROR_NO_MORE_FILES);
      return FALSE;
    }
    const Process& process = TheWorld().processes[pids[handle->cursor++]];
    const DWORD size = entry->dwSize;
    std::memset(entry, 0, sizeof(*entry));
    entry->dwSize = size;
    entry->th32ProcessID = process.setup.pid;
    entry->cntThreads = 1;
    const std::wstring name = process.setup.exe_name.substr(0, MAX_PATH - 1);
    std::memcpy(entry->szExeFile, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    AddDetail(call, L"pid=" + std::to_wstring(process.setup.pid) + L" exe=" + name);
    return TRUE;
  });
}

}  // namespace

BOOL WINAPI Process32FirstW(HANDLE snapshot, LPPROCESSENTRY32W entry) {
  return NextSnapshotEntry("Process32FirstW", snapshot, entry, /*first=*/true);
}

BOOL WINAPI Process32NextW(HANDLE snapshot, LPPROCESSENTRY32W entry) {
  return NextSnapshotEntry("Process32NextW", snapshot, entry, /*first=*/false);
}
