// The simulated Windows: the process table, as tests fill it and launches
// add to it, and when each process ends.
#include "state.h"

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

std::wstring PidText(HANDLE handle) {
  const auto& handles = TheWorld().handles;
  auto found = handles.find(reinterpret_cast<uintptr_t>(handle));
  const DWORD pid = found == handles.end() ? 0 : found->second.pid;
  return L"pid=" + std::to_wstring(pid);
}

}  // namespace winsim::detail

namespace winsim {

using namespace detail;

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

}  // namespace winsim
