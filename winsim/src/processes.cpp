// The simulated Windows: processes, snapshots, waits and process creation.
#include <algorithm>
#include <cstring>

#include <tlhelp32.h>

#include "state.h"

using namespace winsim::detail;

namespace winsim::detail {

Process* FindProcess(DWORD pid) {
  auto& processes = TheWorld().processes;
  auto found = processes.find(pid);
  return found == processes.end() ? nullptr : &found->second;
}

bool HasEnded(const Process& process) {
  return process.ends_at_ms && *process.ends_at_ms <= TheWorld().now_ms;
}

DWORD NewProcess(winsim::ProcessSpec setup) {
  World& w = TheWorld();
  if (setup.pid == 0) {
    while (w.processes.count(w.next_pid) != 0) w.next_pid += 4;
    setup.pid = w.next_pid;
    w.next_pid += 4;
  }
  Process process;
  process.started_ms = w.now_ms;
  process.ends_at_ms = setup.exits_at_ms;
  process.exit_code = setup.exit_code;
  process.setup = std::move(setup);
  const DWORD pid = process.setup.pid;
  w.processes[pid] = std::move(process);
  w.process_order.push_back(pid);
  return pid;
}

}  // namespace winsim::detail

namespace {

bool HasAccess(const HandleEntry& entry, DWORD needed) { return (entry.access & needed) != 0; }

// The process behind an open process handle, or null with the error set.
Process* ProcessOf(HANDLE handle, DWORD needed_any) {
  HandleEntry* entry = FindHandle(handle, HandleKind::kProcess);
  if (entry == nullptr) return nullptr;
  if (needed_any != 0 && !HasAccess(*entry, needed_any)) {
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

// Lets virtual time pass until `done` holds or the time-out runs out.
// Returns false on time-out, or when nothing could ever make `done` hold.
template <typename Done>
bool PassTimeUntil(Done done, std::optional<uint64_t> at_latest, DWORD timeout, const char* what) {
  World& w = TheWorld();
  const std::optional<uint64_t> deadline =
      timeout == INFINITE ? std::nullopt : std::optional<uint64_t>(w.now_ms + timeout);
  for (;;) {
    if (done()) return true;
    std::optional<uint64_t> next = deadline;
    for (std::optional<uint64_t> candidate : {at_latest, NextEventMs()}) {
      if (candidate && *candidate >= w.now_ms && (!next || *candidate < *next)) next = candidate;
    }
    if (!next) {
      Problem(std::string(what) + " with no time-out on something that never happens");
      return false;
    }
    AdvanceTo(*next);
    if (deadline && w.now_ms >= *deadline) return done();
  }
}

winsim::LaunchScript NextLaunchScript(const std::wstring& application) {
  auto& scripts = TheWorld().launch_scripts;
  auto found = scripts.find(Fold(application));
  if (found == scripts.end() || found->second.empty()) return winsim::LaunchScript{};
  winsim::LaunchScript next = found->second.front();
  if (found->second.size() > 1) found->second.pop_front();  // the last one repeats
  return next;
}

}  // namespace

namespace winsim {

DWORD AddProcess(ProcessSpec setup) { return NewProcess(std::move(setup)); }

bool IsRunning(DWORD pid) {
  const Process* process = FindProcess(pid);
  return process != nullptr && !HasEnded(*process);
}

std::optional<DWORD> ExitCodeOf(DWORD pid) {
  const Process* process = FindProcess(pid);
  if (process == nullptr || !HasEnded(*process)) return std::nullopt;
  return process->exit_code;
}

void EndProcess(DWORD pid, DWORD exit_code) {
  Process* process = FindProcess(pid);
  if (process == nullptr || HasEnded(*process)) return;
  process->ends_at_ms = TheWorld().now_ms;
  process->exit_code = exit_code;
}

void ScriptLaunches(const std::wstring& application, std::vector<LaunchScript> scripts) {
  auto& queue = TheWorld().launch_scripts[Fold(application)];
  queue.assign(scripts.begin(), scripts.end());
}

const std::vector<Launch>& Launches() { return TheWorld().launches; }

}  // namespace winsim

namespace {

// The pid behind a process handle for the journal, without touching the
// last error; 0 for anything else.
std::wstring PidText(HANDLE handle) {
  const auto& handles = TheWorld().handles;
  auto found = handles.find(reinterpret_cast<uintptr_t>(handle));
  const DWORD pid = found == handles.end() ? 0 : found->second.pid;
  return L"pid=" + std::to_wstring(pid);
}

}  // namespace

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
    if (!HasAccess(*entry, SYNCHRONIZE)) {
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
    if (process->setup.open_error != 0) {
      SetLastError(process->setup.open_error);
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
    Process* process =
        ProcessOf(handle, PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_QUERY_INFORMATION);
    if (process == nullptr) return FALSE;
    if (process->setup.query_image_error != 0) {
      SetLastError(process->setup.query_image_error);
      return FALSE;
    }
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
    if (process->setup.terminate_error != 0) {
      SetLastError(process->setup.terminate_error);
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
    Process* process =
        ProcessOf(handle, PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_QUERY_INFORMATION);
    if (process == nullptr) return FALSE;
    *exit_code = HasEnded(*process) ? process->exit_code : STILL_ACTIVE;
    return TRUE;
  });
}

namespace {

// CreateProcessW once its fault, if any, is known. The launch is listed
// whether or not it starts.
BOOL CreateProcess(winsim::Launch launch, DWORD fault, LPSTARTUPINFOW startup_info,
                   LPPROCESS_INFORMATION process_information) {
  World& w = TheWorld();
  if (startup_info == nullptr || process_information == nullptr ||
      startup_info->cb != sizeof(STARTUPINFOW)) {
    Problem("CreateProcessW without a proper STARTUPINFOW or PROCESS_INFORMATION");
    w.launches.push_back(launch);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const winsim::LaunchScript script = NextLaunchScript(launch.application);
  const DWORD error = fault != 0 ? fault : script.create_error;
  if (error != 0) {
    w.launches.push_back(launch);
    SetLastError(error);
    return FALSE;
  }

  winsim::ProcessSpec setup;
  setup.image_path = launch.application;
  setup.exe_name = launch.application.substr(launch.application.find_last_of(L"\\/") + 1);
  if (script.exit_after_ms) setup.exits_at_ms = w.now_ms + *script.exit_after_ms;
  setup.exit_code = script.exit_code;
  setup.idle_after_ms = script.idle_after_ms;
  const DWORD pid = NewProcess(std::move(setup));
  launch.pid = pid;
  w.launches.push_back(launch);

  HandleEntry process_entry(HandleKind::kProcess);
  process_entry.access = PROCESS_ALL_ACCESS;
  process_entry.pid = pid;
  HandleEntry thread_entry(HandleKind::kThread);
  thread_entry.access = 0x1FFFFF;
  thread_entry.pid = pid;
  process_information->hProcess = reinterpret_cast<HANDLE>(AddHandle(std::move(process_entry)));
  process_information->hThread = reinterpret_cast<HANDLE>(AddHandle(std::move(thread_entry)));
  process_information->dwProcessId = pid;
  process_information->dwThreadId = pid + 1;
  if (script.on_start) script.on_start();
  return TRUE;
}

}  // namespace

BOOL WINAPI CreateProcessW(LPCWSTR application_name, LPWSTR command_line,
                           LPSECURITY_ATTRIBUTES process_attributes,
                           LPSECURITY_ATTRIBUTES thread_attributes, BOOL inherit_handles,
                           DWORD creation_flags, LPVOID environment, LPCWSTR current_directory,
                           LPSTARTUPINFOW startup_info, LPPROCESS_INFORMATION process_information) {
  winsim::Launch launch{};
  launch.application = application_name ? application_name : L"";
  launch.command_line = command_line ? command_line : L"";
  if (current_directory) launch.current_directory = current_directory;
  launch.creation_flags = creation_flags;
  launch.inherit_handles = inherit_handles;
  launch.environment_null = environment == nullptr;
  launch.security_attributes_null = process_attributes == nullptr && thread_attributes == nullptr;
  if (startup_info) launch.startup_info = *startup_info;
  launch.at_ms = TheWorld().now_ms;

  const CallStart call =
      BeginCall("CreateProcessW", L"app=" + Quote(application_name) + L" cmd=" +
                                      Quote(command_line) + L" flags=" + Hex(creation_flags) +
                                      L" cwd=" + Quote(current_directory));
  const BOOL created = CreateProcess(launch, call.fault, startup_info, process_information);
  EndCall(call.entry, AsNumber(created), TheWorld().last_error);
  return created;
}

DWORD WINAPI WaitForInputIdle(HANDLE handle, DWORD milliseconds) {
  const std::wstring detail = PidText(handle) + L" timeout=" + std::to_wstring(milliseconds);
  return CallSettingLastError("WaitForInputIdle", detail, WAIT_FAILED, [&](size_t) -> DWORD {
    Process* process = ProcessOf(handle, 0);
    if (process == nullptr) return WAIT_FAILED;
    const DWORD pid = process->setup.pid;
    std::optional<uint64_t> idle_at;
    if (process->setup.idle_after_ms) idle_at = process->started_ms + *process->setup.idle_after_ms;
    std::optional<uint64_t> at_latest = idle_at;
    if (process->ends_at_ms && (!at_latest || *process->ends_at_ms < *at_latest)) {
      at_latest = process->ends_at_ms;
    }
    auto idle_or_ended = [pid, idle_at] {
      const Process& p = *FindProcess(pid);
      return HasEnded(p) || (idle_at && *idle_at <= TheWorld().now_ms);
    };
    if (!PassTimeUntil(idle_or_ended, at_latest, milliseconds, "WaitForInputIdle")) {
      return milliseconds == INFINITE ? WAIT_FAILED : WAIT_TIMEOUT;
    }
    if (HasEnded(*FindProcess(pid))) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    return DWORD{0};
  });
}

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
