// The simulated Windows: starting programs, as their launch scripts say they
// behave, and waiting for a new program to become input-idle.
#include "state.h"

using namespace winsim::detail;

namespace {

winsim::LaunchScript NextLaunchScript(const std::wstring& application) {
  auto& scripts = TheWorld().launch_scripts;
  auto found = scripts.find(Fold(application));
  if (found == scripts.end() || found->second.empty()) return winsim::LaunchScript{};
  winsim::LaunchScript next = found->second.front();
  if (found->second.size() > 1) found->second.pop_front();  // the last one repeats
  return next;
}

// Misuse that Windows refuses, or that the simulation does not model; empty
// when the request is sound.
std::string Misuse(DWORD creation_flags, const STARTUPINFOW* startup_info,
                   const PROCESS_INFORMATION* process_information) {
  if (startup_info == nullptr || process_information == nullptr ||
      startup_info->cb != sizeof(STARTUPINFOW)) {
    return "CreateProcessW without a proper STARTUPINFOW or PROCESS_INFORMATION";
  }
  if (startup_info->lpReserved != nullptr || startup_info->cbReserved2 != 0 ||
      startup_info->lpReserved2 != nullptr) {
    return "CreateProcessW with the reserved members of STARTUPINFOW set";
  }
  if ((creation_flags & ~CREATE_NO_WINDOW) != 0) {
    return "CreateProcessW with creation flags the simulation does not model";
  }
  return "";
}

// Adds the started program to the process table and hands out its handles.
DWORD StartProgram(const std::wstring& application, LPPROCESS_INFORMATION process_information) {
  World& w = TheWorld();
  const winsim::LaunchScript script = NextLaunchScript(application);
  winsim::ProcessSpec setup;
  setup.image_path = application;
  setup.exe_name = application.substr(application.find_last_of(L"\\/") + 1);
  if (script.exit_after_ms) setup.exits_at_ms = w.now_ms + *script.exit_after_ms;
  setup.exit_code = script.exit_code;
  setup.idle_after_ms = script.idle_after_ms;
  const DWORD pid = NewProcess(std::move(setup));

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
  return pid;
}

}  // namespace

namespace winsim {

void ScriptLaunches(const std::wstring& application, std::vector<LaunchScript> scripts) {
  auto& queue = TheWorld().launch_scripts[Fold(application)];
  queue.assign(scripts.begin(), scripts.end());
}

const std::vector<Launch>& Launches() { return TheWorld().launches; }

}  // namespace winsim

BOOL WINAPI CreateProcessW(LPCWSTR application_name, LPWSTR command_line,
                           LPSECURITY_ATTRIBUTES process_attributes,
                           LPSECURITY_ATTRIBUTES thread_attributes, BOOL inherit_handles,
                           DWORD creation_flags, LPVOID environment, LPCWSTR current_directory,
                           LPSTARTUPINFOW startup_info, LPPROCESS_INFORMATION process_information) {
  World& w = TheWorld();
  winsim::Launch launch{};
  launch.application = application_name ? application_name : L"";
  launch.command_line = command_line ? command_line : L"";
  if (current_directory) launch.current_directory = current_directory;
  const bool show_chosen = startup_info && (startup_info->dwFlags & STARTF_USESHOWWINDOW) != 0;
  launch.show_command = show_chosen ? startup_info->wShowWindow : WORD{SW_SHOWDEFAULT};
  launch.windowless = (creation_flags & CREATE_NO_WINDOW) != 0;
  launch.inherit_handles = inherit_handles;
  launch.environment_null = environment == nullptr;
  launch.security_attributes_null = process_attributes == nullptr && thread_attributes == nullptr;
  launch.at_ms = w.now_ms;

  const CallStart call =
      BeginCall("CreateProcessW", L"app=" + Quote(application_name) + L" cmd=" +
                                      Quote(command_line) + L" flags=" + Hex(creation_flags) +
                                      L" cwd=" + Quote(current_directory));
  const std::string misuse = Misuse(creation_flags, startup_info, process_information);
  if (!misuse.empty()) Problem(misuse);
  // A launch that fails takes no launch script: the next one that starts does.
  const DWORD error = misuse.empty() ? call.fault : DWORD{ERROR_INVALID_PARAMETER};
  if (error != 0) {
    SetLastError(error);
  } else {
    launch.pid = StartProgram(launch.application, process_information);
  }
  w.launches.push_back(launch);
  const BOOL created = error == 0 ? TRUE : FALSE;
  EndCall(call.entry, AsNumber(created), w.last_error);
  return created;
}

DWORD WINAPI WaitForInputIdle(HANDLE handle, DWORD milliseconds) {
  const std::wstring detail = PidText(handle) + L" timeout=" + std::to_wstring(milliseconds);
  return CallSettingLastError("WaitForInputIdle", detail, WAIT_FAILED, [&](size_t) -> DWORD {
    const HandleEntry* entry = FindHandle(handle, HandleKind::kProcess);
    if (entry == nullptr) return WAIT_FAILED;
    const DWORD pid = entry->pid;
    const Process& process = *FindProcess(pid);
    std::optional<uint64_t> idle_at;
    if (process.setup.idle_after_ms) idle_at = process.started_ms + *process.setup.idle_after_ms;
    std::optional<uint64_t> at_latest = idle_at;
    if (process.ends_at_ms && (!at_latest || *process.ends_at_ms < *at_latest)) {
      at_latest = process.ends_at_ms;
    }
    auto idle_or_ended = [pid, idle_at] {
      return HasEnded(*FindProcess(pid)) || (idle_at && *idle_at <= TheWorld().now_ms);
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
